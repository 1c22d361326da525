#pragma once
// Error classes raised by the serial link and the SBEP protocol. Plain value
// types thrown by value; a handler tells them apart only by base and code.

namespace tolvan {

struct Exception {
    int code = 0;
};

struct CommunicationError : Exception {};
struct RadioProtocolError : CommunicationError {};

#define TOLVAN_ERROR(Name, Base, Code)        \
    struct Name : Base {                      \
        Name() { code = Code; }               \
    }

TOLVAN_ERROR(GeneralCommunicationError, CommunicationError, 6000);
TOLVAN_ERROR(BaudRateSettingError, CommunicationError, 6001);
TOLVAN_ERROR(CharacterSizeSettingError, CommunicationError, 6003);
TOLVAN_ERROR(PortInUseError, CommunicationError, 6005);
TOLVAN_ERROR(BreakDetected, CommunicationError, 6006);
TOLVAN_ERROR(FramingError, CommunicationError, 6007);
TOLVAN_ERROR(OverrunError, CommunicationError, 6008);
TOLVAN_ERROR(ParityError, CommunicationError, 6009);
TOLVAN_ERROR(InputBufferFull, CommunicationError, 6010);
TOLVAN_ERROR(OutputBufferFull, CommunicationError, 6011);
TOLVAN_ERROR(DataCollision, CommunicationError, 6013);
TOLVAN_ERROR(TimeoutOnReceive, CommunicationError, 6014);
TOLVAN_ERROR(BadMessage, RadioProtocolError, 6201);
TOLVAN_ERROR(UnsupportedMessage, RadioProtocolError, 6202);
TOLVAN_ERROR(MessageNotAcknowledged, RadioProtocolError, 6203);
TOLVAN_ERROR(BadReply, RadioProtocolError, 6205);

#undef TOLVAN_ERROR

struct BadWrite : RadioProtocolError {
    int address = 0;
    explicit BadWrite(int failedAddress) : address(failedAddress) { code = 6206; }
};

// The class name for a code, for diagnostics ("TimeoutOnReceive"); "Exception" when unknown.
const char* errorClassName(int code);

}  // namespace tolvan
