#pragma once
// The line settings record through which each radio connection learns its
// COM port from com.ini.

#include "archive/file_module.h"

namespace tolvan {

// The port the last settings record obtained from com.ini in this run; 0 at
// start. A function returning a reference rather than a global so tests can
// reset it and no static-initialisation order applies.
int& lastPortId();

struct RF_CommunicationSetup {
    // Reads com.ini once; when it cannot be opened the last port read in this
    // run is used (0, which no port answers to, when there was none).
    RF_CommunicationSetup();

    fileModule settingsFile;
    int baudRate = 9600;
    int portId = 0;
    int parity = 0;
    int byteSize = 8;
    int stopBits = 0;
};

}  // namespace tolvan
