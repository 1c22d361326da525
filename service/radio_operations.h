#pragma once
// The two radio reads the service windows and the controller rely on.

#include "protocol/radio_connection.h"
#include "service/radio_storage.h"

namespace tolvan {

class radioOperations {
public:
    // Softpot 1 through selector 20; the value lands in cell (0, 9).
    static constexpr int kTempCompSoftpot = 1;
    static constexpr int kTempCompSelector = 20;
    // Frame bytes 3..12 of the serial number reply are the ten characters.
    static constexpr int kReplyBufferSize = 52;

    void readTempComp(radioStorage& storage, cominit& connection);
    // serialText receives ten characters and a terminator (at least 11 chars).
    void readSerialNumber(radioStorage& storage, char* serialText, cominit& connection);
};

}  // namespace tolvan
