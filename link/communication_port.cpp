#include "link/communication_port.h"

#include "link/errors.h"
#include "link/line_trace.h"
#include "protocol/timing.h"

namespace tolvan {

namespace {
LineTrace* g_trace = nullptr;
}

LineTrace* lineTrace() { return g_trace; }
void setLineTrace(LineTrace* trace) { g_trace = trace; }

unsigned CommunicationInterface::waitForInput(unsigned count, unsigned idleLimit)
{
    TickTimer timer(characterTime());
    unsigned seen = 0;
    unsigned idle = 0;
    while (seen < count) {
        idle = 0;
        unsigned current = bytesWaiting();
        while (current == seen) {
            if (idle >= idleLimit) {
                if (LineTrace* t = lineTrace())
                    t->event("timeout: no byte for " + std::to_string(idleLimit) + " character times");
                throw TimeoutOnReceive();
            }
            timer.waitPeriods(1);
            ++idle;
            current = bytesWaiting();
        }
        seen = current;
    }
    return idle;
}

int CommunicationInterface::charactersIn(double seconds)
{
    return static_cast<int>(static_cast<long double>(seconds) / characterTime());
}

void raiseLineError(long status)
{
    if (status == 0)
        return;
    if (status == -12)
        throw BaudRateSettingError();
    if (status == -11)
        throw CharacterSizeSettingError();
    if (status & 0x0010)
        throw BreakDetected();
    if (status & 0x0008)
        throw FramingError();
    if (status & 0x0002)
        throw OverrunError();
    if (status & 0x0004)
        throw ParityError();
    if (status & 0x0001)
        throw InputBufferFull();
    if (status & 0x0100)
        throw OutputBufferFull();
    throw GeneralCommunicationError();
}

}  // namespace tolvan
