#pragma once
// One function per fuzz target: it runs one input through the code under test
// and checks what must hold for any input. The libFuzzer entry points and the
// regression tests of the normal build call the same functions, so a saved
// finding replays exactly.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvan::fuzz {

struct Outcome {
    // What the code under test ended in: "ok ..." or the error class name.
    std::string result;
    // Empty when every invariant held; otherwise what went wrong.
    std::string violation;
};

// SBEPMessage(frameBytes) and the frame functions on the input as a frame.
Outcome runFrame(const std::uint8_t* data, std::size_t size);

// One full exchange against a radio that answers with the input's bytes.
// Layout: operation, delivery, two parameter bytes, then segments of
// [length][delay in 10 ms][bytes], one segment per transmitted frame.
Outcome runExchange(const std::uint8_t* data, std::size_t size);

// checkArchive on the input as an archive file, the legacy line readers on
// the same buffer, and the formatArchive round trip of accepted archives.
Outcome runArchive(const std::uint8_t* data, std::size_t size);

// readComPortId and RF_CommunicationSetup over the input as com.ini.
Outcome runComIni(const std::uint8_t* data, std::size_t size);

// For the fuzz entry points: abort with the violation so libFuzzer saves the input.
void requireClean(const Outcome& outcome);

}  // namespace tolvan::fuzz
