#include <cstring>
#include <vector>

#include "fuzz/harness.h"
#include "link/errors.h"
#include "protocol/sbep_frame.h"
#include "protocol/sbep_message.h"

namespace tolvan::fuzz {

Outcome runFrame(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {"empty", {}};
    // The frame functions may read the whole header and then frameTotalLength
    // bytes: pad with zeros so the input always satisfies that contract.
    std::vector<unsigned char> frame(data, data + size);
    const int header = frameHeaderLength(frame.data(), static_cast<int>(frame.size()));
    if (static_cast<int>(frame.size()) < header)
        frame.resize(static_cast<std::size_t>(header), 0);

    const int n = frameDataLength(frame.data());
    const int offset = frameDataOffset(frame.data());
    const int total = frameTotalLength(frame.data());
    if (n < 0)
        return {"", "frameDataLength is negative: " + std::to_string(n)};
    if (total != n + offset + 1)
        return {"", "frameTotalLength is not data + offset + 1"};
    if (static_cast<int>(frame.size()) < total)
        frame.resize(static_cast<std::size_t>(total), 0);

    const bool valid = hasValidChecksum(frame.data());
    const int opcode = frameOpcode(frame.data());
    // A frame whose header is longer than the frame itself cannot be copied
    // whole: every later look at the copy would read past it.
    const bool wellFormed = total >= header;

    try {
        SBEPMessage message(frame.data());
        if (!valid || !wellFormed)
            return {"", "accepted a frame with a wrong checksum or a header longer than the frame"};
        if (message.size() != total)
            return {"", "copy holds " + std::to_string(message.size()) + " bytes, frame has " + std::to_string(total)};
        if (std::memcmp(message.data(), frame.data(), static_cast<std::size_t>(total)) != 0)
            return {"", "copy differs from the frame"};
        // The copy must describe itself the same way, reading only its own bytes.
        if (frameTotalLength(message.data()) != total || frameDataLength(message.data()) != n
            || frameOpcode(message.data()) != opcode || !hasValidChecksum(message.data()))
            return {"", "copy reads differently from the frame"};
        // A frame in the writer's own form is rebuilt byte for byte.
        if (frameLength(opcode, n) == total) {
            std::vector<unsigned char> rebuilt(static_cast<std::size_t>(total) + 4);
            const int h = writeHeader(rebuilt.data(), opcode, n);
            if (h == offset && std::memcmp(rebuilt.data(), frame.data(), static_cast<std::size_t>(h)) == 0) {
                const int length = buildFrame(rebuilt.data(), opcode, frame.data() + offset, n);
                if (length != total || std::memcmp(rebuilt.data(), frame.data(), static_cast<std::size_t>(total)) != 0)
                    return {"", "writer's form does not rebuild byte for byte"};
            }
        }
        return {"ok " + std::to_string(total), {}};
    } catch (const BadMessage&) {
        if (valid && wellFormed)
            return {"", "refused a frame with a valid checksum"};
        return {"BadMessage", {}};
    } catch (const Exception& e) {
        return {"", std::string("unexpected ") + errorClassName(e.code)};
    }
}

}  // namespace tolvan::fuzz
