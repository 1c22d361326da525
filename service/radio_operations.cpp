#include "service/radio_operations.h"

#include <cstring>

#include "protocol/sbep_requests.h"

namespace tolvan {

void radioOperations::readTempComp(radioStorage& storage, cominit& connection)
{
    int value = 0;
    connection.sbep.readSoftpotFor(kTempCompSoftpot, &value, &storage, kTempCompSelector);
    storage.setValue(0, value, 9);
}

void radioOperations::readSerialNumber(radioStorage&, char* serialText, cominit& connection)
{
    unsigned char reply[kReplyBufferSize] = {};
    connection.sbep.readSerialNumber(reply);
    std::memcpy(serialText, reply + SBEPRadioSerialNoRequest::kSerialOffset, SBEPRadioSerialNoRequest::kSerialLength);
    serialText[SBEPRadioSerialNoRequest::kSerialLength] = '\0';
}

}  // namespace tolvan
