#include "link/com_ini.h"

namespace tolvan {

int& lastPortId()
{
    static int port = 0;
    return port;
}

RF_CommunicationSetup::RF_CommunicationSetup()
{
    portId = settingsFile.readComPortId();
    if (portId != -1) {
        lastPortId() = portId;
    } else {
        portId = lastPortId();
    }
}

}  // namespace tolvan
