#include <gtest/gtest.h>

#include "protocol/sbep_requests.h"
#include "scripted_port.h"
#include "service/radio_storage.h"

using namespace tolvan;
using namespace tolvan::testing;

namespace {

// Every way the line may hand over the acknowledgement and its reply.
std::vector<Delivery> allDeliveries(std::size_t burstLength)
{
    std::vector<Delivery> d{{Delivery::OnePiece, 0}, {Delivery::ByteByByte, 0}};
    for (std::size_t i = 1; i < burstLength; ++i)
        d.push_back({Delivery::SplitAt, static_cast<int>(i)});
    return d;
}

class Requests : public ::testing::Test {
protected:
    FakeClock clock{100};
    ScopedTickSource scope{clock};
    ScriptedPort port{clock};

    // The radio answers each transmission with the next scripted reply, in the
    // acknowledgement's burst (inBurst) or 20 ticks later.
    void script(std::vector<Bytes> replies, bool inBurst)
    {
        auto queue = std::make_shared<std::vector<Bytes>>(std::move(replies));
        auto index = std::make_shared<std::size_t>(0);
        port.onFrame = [queue, index, inBurst](ScriptedPort& p, const Bytes&) {
            const Bytes& reply = (*queue)[std::min(*index, queue->size() - 1)];
            ++*index;
            if (inBurst) {
                p.deliver(concat(kAck, reply));
            } else {
                p.deliver(kAck);
                p.deliver(reply, 20);
            }
        };
    }
};

}  // namespace

TEST_F(Requests, WriteReplyAddressDecidesThePendingLink)
{
    const unsigned char data[] = {1, 2};
    for (bool inBurst : {false, true}) {
        SCOPED_TRACE(inBurst ? "reply in the burst" : "reply later");
        {
            script({frame(0x84, address3(0x1000))}, inBurst);
            SBEPWriteRequest w(data, 0x1000, 2);
            w.send(port);
            EXPECT_EQ(w.pending, nullptr);
        }
        for (std::uint32_t unconfirmed : {0xFFFFFFu, 0u}) {
            script({frame(0x84, address3(unconfirmed))}, inBurst);
            SBEPWriteRequest w(data, 0x1000, 2);
            w.send(port);
            EXPECT_EQ(w.pending, &w);
        }
        {
            SBEPWriteRequest earlier(data, 0x0F00, 2);
            script({frame(0x84, address3(0x0F00))}, inBurst);
            SBEPWriteRequest w(data, 0x1000, 2);
            w.pending = &earlier;
            w.send(port);
            EXPECT_EQ(w.pending, &w);
        }
        {
            port.sent.clear();
            script({frame(0x84, address3(0x7F7F7F)), frame(0x84, address3(0x1000))}, inBurst);
            SBEPWriteRequest w(data, 0x1000, 2);
            w.send(port);
            EXPECT_EQ(port.sent.size(), 2u) << "an unrelated address is retried";
            EXPECT_EQ(w.pending, nullptr);
        }
    }
}

TEST_F(Requests, FailedWriteRaisesBadWriteWithTheAddressAfterFourAttempts)
{
    const unsigned char data[] = {9};
    for (bool inBurst : {false, true}) {
        SCOPED_TRACE(inBurst ? "reply in the burst" : "reply later");
        port.sent.clear();
        script({frame(0x85, address3(0x1040))}, inBurst);
        SBEPWriteRequest w(data, 0x1040, 1);
        try {
            w.send(port);
            FAIL() << "a failed write was reported as written";
        } catch (const BadWrite& e) {
            EXPECT_EQ(e.address, 0x1040);
            EXPECT_EQ(e.code, 6206);
        }
        EXPECT_EQ(port.sent.size(), 4u);
    }
}

TEST_F(Requests, WriteReplyIsReadTheSameHoweverTheLineChunksIt)
{
    const unsigned char data[] = {1, 2, 3};
    const Bytes reply = frame(0x84, address3(0x2000));
    for (const auto& d : allDeliveries(1 + reply.size())) {
        SCOPED_TRACE(::testing::Message() << d.kind << "/" << d.split);
        port.delivery = d;
        port.sent.clear();
        script({reply}, true);
        SBEPWriteRequest w(data, 0x2000, 3);
        w.pending = &w;
        EXPECT_NO_THROW(w.send(port));
        EXPECT_EQ(w.pending, nullptr);
        EXPECT_EQ(port.sent.size(), 1u);
        EXPECT_EQ(port.pendingBytes(), 0u);
    }
}

TEST_F(Requests, WriteReplyLateByTwoSecondsTimesOut)
{
    const unsigned char data[] = {1};
    port.onFrame = [](ScriptedPort& p, const Bytes&) {
        p.deliver(kAck);
        p.deliver(frame(0x84, address3(0x10)), 1925);
    };
    SBEPWriteRequest w(data, 0x10, 1);
    w.attempts = 3;  // one transmission
    EXPECT_THROW(w.send(port), TimeoutOnReceive);
    EXPECT_EQ(port.charactersIn(2.0), 1919);
}

TEST_F(Requests, TempCompReadTakesTheValueFromEitherPath)
{
    const Bytes reply = frame(0x8A, {0x01, 0x00, 0x00, 0x12, 0x34});
    for (bool inBurst : {true, false}) {
        for (const auto& d : allDeliveries(1 + reply.size())) {
            SCOPED_TRACE(::testing::Message() << (inBurst ? "burst " : "later ") << d.kind << "/" << d.split);
            port.delivery = d;
            script({reply}, inBurst);
            radioStorage storage;
            SBEPSoftpotReadRequest read(1);
            read.request(port, &storage, 20);
            EXPECT_EQ(read.value, 4660);
            for (unsigned s : {2u, 3u, 13u})
                EXPECT_EQ(storage.getFlag(s), 1);
            EXPECT_EQ(port.pendingBytes(), 0u);
        }
    }
}

TEST_F(Requests, SoftpotBurstValueWidthFollowsTheSelector)
{
    const Bytes reply = frame(0x8A, {0x02, 0xAB, 0xCD, 0xEF, 0x01});
    const struct {
        int selector;
        std::int32_t value;
    } cases[] = {{2, 0xABCD}, {20, static_cast<std::int32_t>(0xABCDEF01)}, {5, 0xAB}};
    for (const auto& c : cases) {
        script({reply}, true);
        radioStorage storage;
        storage.clearFlag(static_cast<unsigned>(c.selector));
        SBEPSoftpotReadRequest read(2);
        read.request(port, &storage, c.selector);
        EXPECT_EQ(read.value, c.value) << c.selector;
        if (c.selector != 20) {
            EXPECT_EQ(storage.getFlag(static_cast<unsigned>(c.selector)), 1) << "a burst reply marks the selector supported";
        }
    }
}

TEST_F(Requests, WrongSoftpotIdIsRetried)
{
    for (bool inBurst : {true, false}) {
        port.sent.clear();
        script({frame(0x8A, {0x02, 0, 0, 0, 7}), frame(0x8A, {0x01, 0, 0, 0, 9})}, inBurst);
        radioStorage storage;
        SBEPSoftpotReadRequest read(1);
        read.request(port, &storage, 20);
        EXPECT_EQ(read.value, 9);
        EXPECT_EQ(port.sent.size(), 2u);
    }
}

TEST_F(Requests, UnsupportedSoftpotClearsItsFlagAndFails)
{
    for (bool inBurst : {true, false}) {
        SCOPED_TRACE(inBurst);
        port.sent.clear();
        script({frame(0x86, {0x20})}, inBurst);
        radioStorage storage;
        SBEPSoftpotReadRequest read(1);
        EXPECT_THROW(read.request(port, &storage, 2), UnsupportedMessage);
        EXPECT_EQ(storage.getFlag(2), 0);
        EXPECT_EQ(port.sent.size(), 1u);

        script({frame(0x86, {0x20})}, false);
        SBEPSoftpotReadRequest plain(1);
        EXPECT_THROW(plain.send(port), UnsupportedMessage);
    }
}

TEST_F(Requests, SoftpotReplyWithoutDataIsRejected)
{
    port.sent.clear();
    script({frame(0x8A, {})}, true);
    SBEPSoftpotReadRequest read(1);
    EXPECT_THROW(read.request(port, nullptr, 20), BadReply);
    EXPECT_EQ(port.sent.size(), 4u);
}

TEST_F(Requests, MemoryReadFillsItsDestinationFromEitherPath)
{
    const Bytes memory{0xDE, 0xAD, 0xBE, 0xEF};
    const Bytes reply = frame(0x80, memory);
    for (bool inBurst : {true, false}) {
        for (const auto& d : allDeliveries(1 + reply.size())) {
            SCOPED_TRACE(::testing::Message() << inBurst << " " << d.kind << "/" << d.split);
            port.delivery = d;
            script({reply}, inBurst);
            unsigned char dest[4] = {};
            SBEPReadRequest read(dest, 0x100, 4);
            read.send(port);
            EXPECT_EQ(Bytes(dest, dest + 4), memory);
        }
    }
    port.delivery = {};
    port.sent.clear();
    script({frame(0x80, {1, 2})}, true);
    unsigned char dest[4] = {};
    SBEPReadRequest wrongLength(dest, 0x100, 4);
    EXPECT_THROW(wrongLength.send(port), BadReply);
    EXPECT_EQ(port.sent.size(), 4u);
}

TEST_F(Requests, SerialNumberQueryDeliversFrameBytesThreeToTwelve)
{
    Bytes data{0x01};
    for (char c : std::string("ABCDEFGHIJ"))
        data.push_back(static_cast<std::uint8_t>(c));
    const Bytes reply = frame(0xA3, data);
    for (bool inBurst : {true, false}) {
        for (const auto& d : allDeliveries(1 + reply.size())) {
            SCOPED_TRACE(::testing::Message() << inBurst << " " << d.kind << "/" << d.split);
            port.delivery = d;
            script({reply}, inBurst);
            unsigned char buffer[52] = {};
            SBEPRadioSerialNoRequest query;
            query.query(port, buffer);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 3, 10), "ABCDEFGHIJ");
        }
    }
}

TEST_F(Requests, SerialNumberQueryFailsRatherThanReportAStaleBuffer)
{
    port.delivery = {};
    const struct {
        const char* name;
        Bytes reply;
        bool inBurst;
    } cases[] = {
        {"short reply in the burst", frame(0xA3, {0x01, 'A', 'B'}), true},
        {"short reply later", frame(0xA3, {0x01, 'A', 'B'}), false},
        {"bad checksum in the burst", {0xF2, 0xA3, 0x01, 0x00}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port.sent.clear();
        script({c.reply}, c.inBurst);
        unsigned char buffer[52] = {};
        SBEPRadioSerialNoRequest query;
        EXPECT_THROW(query.query(port, buffer), BadReply);
        EXPECT_EQ(port.sent.size(), 4u);
        clock.advance(50);
        port.purgeInput();
    }
    // Acknowledged, but no reply at all.
    port.sent.clear();
    port.onFrame = [](ScriptedPort& p, const Bytes&) { p.deliver(kAck); };
    unsigned char buffer[52] = {};
    SBEPRadioSerialNoRequest query;
    EXPECT_THROW(query.query(port, buffer), TimeoutOnReceive);
}

TEST_F(Requests, RecoverFailedWriteResendsThePendingWrite)
{
    const unsigned char data[] = {5};
    SBEPWriteRequest earlier(data, 0x0F00, 1);
    SBEPWriteRequest w(data, 0x1000, 1);
    EXPECT_FALSE(w.recoverFailedWrite(BadWrite(0x1000), port));
    EXPECT_FALSE(w.recoverFailedWrite(BadWrite(0x0F00), port)) << "nothing pending";
    w.pending = &earlier;
    EXPECT_THROW(w.recoverFailedWrite(BadWrite(0x0E00), port), BadReply);
    script({frame(0x84, address3(0x0F00))}, false);
    EXPECT_TRUE(w.recoverFailedWrite(BadWrite(0x0F00), port));
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(w.pending, nullptr);
}

TEST_F(Requests, PlainSendOfASoftpotReadTakesTheValueFromEitherPath)
{
    const Bytes reply = frame(0x8A, {0x03, 0x00, 0x00, 0x0B, 0xCD});
    for (bool inBurst : {true, false}) {
        script({reply}, inBurst);
        SBEPSoftpotReadRequest read(3);
        read.send(port);
        EXPECT_EQ(read.value, 0x0BCD) << inBurst;
        EXPECT_EQ(read.valueLength, 4) << inBurst;
    }
}

TEST_F(Requests, WritesTheRadioRefusesFailInsteadOfPassingForDone)
{
    const unsigned char tc[] = {0, 0, 0, 1};
    for (bool inBurst : {true, false}) {
        SCOPED_TRACE(inBurst);
        port.sent.clear();
        script({frame(0x86, {0x18})}, inBurst);
        SBEPWriteSerialNoRequest serial("ABCDEFGHIJ");
        EXPECT_THROW(serial.send(port), UnsupportedMessage);
        SBEPSoftpotWriteRequest softpot(1, 1, tc, 4);
        EXPECT_THROW(softpot.send(port), UnsupportedMessage);
        EXPECT_EQ(port.sent.size(), 2u) << "never retried";

        // A damaged or missing reply still lets the write pass: the radio acknowledged it.
        script({{0xF1, 0x98, 0x00}}, inBurst);
        SBEPWriteSerialNoRequest damaged("ABCDEFGHIJ");
        EXPECT_NO_THROW(damaged.send(port));
        clock.advance(50);
        port.purgeInput();
    }
}

TEST_F(Requests, RetriedMemoryReadNeverTakesTheFailedAttemptsLateReply)
{
    // First attempt: the reply comes 300 ticks late (past the 250 idle limit)
    // holding the old bytes; the retry is answered at once with the right ones.
    int attempt = 0;
    port.onFrame = [&](ScriptedPort& p, const Bytes&) {
        if (++attempt == 1) {
            p.deliver(kAck);
            p.deliver(frame(0x80, {0xAA, 0xAA}), 300);
        } else {
            p.deliver(kAck);
            p.deliver(frame(0x80, {0x55, 0x55}), 60);
        }
    };
    unsigned char dest[2] = {};
    SBEPReadRequest read(dest, 0x40, 2);
    read.send(port);
    EXPECT_EQ(attempt, 2);
    EXPECT_EQ(Bytes(dest, dest + 2), (Bytes{0x55, 0x55}));
}

TEST_F(Requests, LateWriteReplyOfAFailedAttemptIsDiscardedBeforeTheRetry)
{
    // Attempt 1 fails late (0x85 after the 2 s limit); attempt 2 is confirmed.
    const unsigned char data[] = {7};
    int attempt = 0;
    port.onFrame = [&](ScriptedPort& p, const Bytes&) {
        p.deliver(kAck);
        if (++attempt == 1)
            p.deliver(frame(0x85, address3(0x1000)), 1990);
        else
            p.deliver(frame(0x84, address3(0x1000)), 100);
    };
    SBEPWriteRequest w(data, 0x1000, 1);
    EXPECT_NO_THROW(w.send(port));
    EXPECT_EQ(attempt, 2);
    EXPECT_EQ(w.pending, nullptr);
}
