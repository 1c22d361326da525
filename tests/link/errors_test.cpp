#include "link/errors.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace tolvan {
namespace {

enum class Caught { Protocol, Communication, Root, Nothing };

struct ErrorRow {
    const char* name;
    int code;
    bool protocol;
    std::function<void()> raise;
    int defaultCode;
};

#define ROW(Cls, Code, Protocol) ErrorRow{#Cls, Code, Protocol, [] { throw Cls(); }, Cls().code}

const ErrorRow kErrors[] = {
    ROW(GeneralCommunicationError, 6000, false),
    ROW(BaudRateSettingError, 6001, false),
    ROW(CharacterSizeSettingError, 6003, false),
    ROW(PortInUseError, 6005, false),
    ROW(BreakDetected, 6006, false),
    ROW(FramingError, 6007, false),
    ROW(OverrunError, 6008, false),
    ROW(ParityError, 6009, false),
    ROW(InputBufferFull, 6010, false),
    ROW(OutputBufferFull, 6011, false),
    ROW(DataCollision, 6013, false),
    ROW(TimeoutOnReceive, 6014, false),
    ROW(BadMessage, 6201, true),
    ROW(UnsupportedMessage, 6202, true),
    ROW(MessageNotAcknowledged, 6203, true),
    ROW(BadReply, 6205, true),
    ErrorRow{"BadWrite", 6206, true, [] { throw BadWrite(0x123456); }, BadWrite(0).code},
};

#undef ROW

// Which of the three bases the handler chain catches first, and with which code.
Caught catchOrder(const std::function<void()>& raise, int& code)
{
    try {
        try {
            raise();
        } catch (const RadioProtocolError& e) {
            code = e.code;
            return Caught::Protocol;
        }
    } catch (const CommunicationError& e) {
        code = e.code;
        return Caught::Communication;
    } catch (const Exception& e) {
        code = e.code;
        return Caught::Root;
    } catch (...) {
    }
    return Caught::Nothing;
}

TEST(Errors, EveryClassHasItsCodeAndBase)
{
    for (const ErrorRow& row : kErrors) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.defaultCode, row.code);
        int code = -1;
        EXPECT_EQ(catchOrder(row.raise, code), row.protocol ? Caught::Protocol : Caught::Communication);
        EXPECT_EQ(code, row.code);
        EXPECT_STREQ(errorClassName(row.code), row.name);
    }
}

TEST(Errors, CommunicationErrorCatchesEveryClass)
{
    for (const ErrorRow& row : kErrors) {
        SCOPED_TRACE(row.name);
        bool caught = false;
        try {
            row.raise();
        } catch (const CommunicationError& e) {
            caught = e.code == row.code;
        }
        EXPECT_TRUE(caught);
    }
}

TEST(Errors, CodesOutsideTheTableAreUnknown)
{
    for (int gap : {0, 5999, 6002, 6004, 6012, 6015, 6200, 6204, 6207})
        EXPECT_STREQ(errorClassName(gap), "Exception") << gap;
}

TEST(Errors, BadWriteCarriesItsAddressThroughEveryBase)
{
    try {
        throw BadWrite(300);
    } catch (const RadioProtocolError& e) {
        EXPECT_EQ(e.code, 6206);
    }
    try {
        throw BadWrite(300);
    } catch (const CommunicationError& e) {
        EXPECT_EQ(e.code, 6206);
    }
    try {
        throw BadWrite(0xABCDEF);
    } catch (const BadWrite& e) {
        EXPECT_EQ(e.address, 0xABCDEF);
        EXPECT_EQ(e.code, 6206);
    }
    BadWrite original(300);
    BadWrite copy = original;
    BadWrite assigned(1);
    assigned = original;
    EXPECT_EQ(copy.address, 300);
    EXPECT_EQ(assigned.address, 300);
    EXPECT_EQ(assigned.code, 6206);
}

}  // namespace
}  // namespace tolvan
