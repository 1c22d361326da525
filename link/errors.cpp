#include "link/errors.h"

namespace tolvan {

const char* errorClassName(int code)
{
    switch (code) {
    case 6000: return "GeneralCommunicationError";
    case 6001: return "BaudRateSettingError";
    case 6003: return "CharacterSizeSettingError";
    case 6005: return "PortInUseError";
    case 6006: return "BreakDetected";
    case 6007: return "FramingError";
    case 6008: return "OverrunError";
    case 6009: return "ParityError";
    case 6010: return "InputBufferFull";
    case 6011: return "OutputBufferFull";
    case 6013: return "DataCollision";
    case 6014: return "TimeoutOnReceive";
    case 6201: return "BadMessage";
    case 6202: return "UnsupportedMessage";
    case 6203: return "MessageNotAcknowledged";
    case 6205: return "BadReply";
    case 6206: return "BadWrite";
    default: return "Exception";
    }
}

}  // namespace tolvan
