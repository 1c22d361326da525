#include <gtest/gtest.h>

#include "protocol/sbep_message.h"
#include "protocol/sbep_requests.h"
#include "scripted_port.h"

using namespace tolvan;
using namespace tolvan::testing;

namespace {

class Exchange : public ::testing::Test {
protected:
    FakeClock clock{5000};
    ScopedTickSource scope{clock};
    ScriptedPort port{clock};
};

}  // namespace

TEST_F(Exchange, AcknowledgedRequestConsumesItsLaterReply)
{
    port.onFrame = [](ScriptedPort& p, const Bytes&) {
        p.deliver(kAck);
        p.deliver(frame(0x86, {0x23}), 20);
    };
    SBEPKeyUpRequest key;
    EXPECT_NO_THROW(key.send(port));
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(port.pendingBytes(), 0u) << "the 0x86 reply must be read, not left behind";
}

TEST_F(Exchange, NegativeAcknowledgeEveryTimeGivesUpAfterFourTransmissions)
{
    port.onFrame = [](ScriptedPort& p, const Bytes&) { p.deliver(kNak); };
    SBEPKeyUpRequest key;
    EXPECT_THROW(key.send(port), MessageNotAcknowledged);
    EXPECT_EQ(port.sent.size(), 4u);
    EXPECT_EQ(key.attempts, 4u);
    EXPECT_EQ(port.purges, 4) << "every attempt starts by discarding pending input";

    // Its counter is spent: sending the same object again transmits once.
    port.sent.clear();
    EXPECT_THROW(key.send(port), MessageNotAcknowledged);
    EXPECT_EQ(port.sent.size(), 1u);
}

TEST_F(Exchange, NegativeAcknowledgeOnceIsRetried)
{
    int seen = 0;
    port.onFrame = [&](ScriptedPort& p, const Bytes&) { p.deliver(++seen == 1 ? kNak : kAck); };
    SBEPDekeyRequest dekey;
    EXPECT_NO_THROW(dekey.send(port));
    EXPECT_EQ(port.sent.size(), 2u);
}

TEST_F(Exchange, RecoveryPauseLetsTenCharacterTimesPassAfterTransmission)
{
    std::vector<std::uint32_t> starts;
    port.onFrame = [&](ScriptedPort& p, const Bytes&) {
        starts.push_back(clock.ticks());
        p.deliver(kNak);
    };
    SBEPKeyUpRequest key;  // 4 bytes on the line
    EXPECT_THROW(key.send(port), MessageNotAcknowledged);
    ASSERT_EQ(starts.size(), 4u);
    // Transmission (4 + 30 ticks here), then until 10 periods + 1 ms after the timer started.
    for (std::size_t i = 1; i < starts.size(); ++i)
        EXPECT_EQ(starts[i] - starts[i - 1], 4u + 30u + 11u);
}

TEST_F(Exchange, NoEchoIsATimeOut)
{
    port.echo = false;
    SBEPKeyUpRequest key;
    const auto t0 = clock.ticks();
    EXPECT_THROW(key.send(port), TimeoutOnReceive);
    EXPECT_EQ(port.sent.size(), 4u);
    // Each attempt: transmission and at most 10 idle character times (+1 for the wait's own step).
    EXPECT_LE(clock.ticks() - t0, 4u * (4u + 30u + 12u));
}

TEST_F(Exchange, AcknowledgementIdleLimitIsExact)
{
    for (std::uint32_t delay : {251u, 252u}) {
        SCOPED_TRACE(delay);
        port.sent.clear();
        port.onFrame = [delay](ScriptedPort& p, const Bytes&) { p.deliver(kAck, delay); };
        SBEPResetRequest reset;  // one transmission whatever happens
        reset.noRetry = 0;
        reset.attempts = 3;
        if (delay == 251u)
            EXPECT_NO_THROW(reset.send(port));
        else
            EXPECT_THROW(reset.send(port), TimeoutOnReceive);
        // Let anything still scheduled arrive and be discarded.
        clock.advance(400);
        port.purgeInput();
    }
}

TEST_F(Exchange, AcknowledgementThatTrailsTheEchoIsWaitedFor)
{
    // The echo is queued at once; the acknowledgement comes a few ticks later.
    port.onFrame = [](ScriptedPort& p, const Bytes&) { p.deliver(kAck, 5); };
    SBEPKeyUpRequest key;
    EXPECT_NO_THROW(key.send(port));
    EXPECT_EQ(port.sent.size(), 1u);
}

TEST_F(Exchange, ByteAfterTheEchoThatIsNoAcknowledgementIsABadReply)
{
    port.onFrame = [](ScriptedPort& p, const Bytes&) { p.deliver({0x70}); };
    SBEPKeyUpRequest key;
    EXPECT_THROW(key.send(port), BadReply);
    EXPECT_EQ(port.sent.size(), 4u);
}

TEST_F(Exchange, ResetWithoutAnswerIsOneSilentTransmission)
{
    SBEPResetRequest reset;
    port.onFrame = [](ScriptedPort&, const Bytes&) {};
    EXPECT_NO_THROW(reset.send(port));
    EXPECT_EQ(port.sent.size(), 1u);
}

TEST_F(Exchange, UnsupportedReplyAfterPlainSendIsNoError)
{
    port.onFrame = [](ScriptedPort& p, const Bytes&) {
        p.deliver(kAck);
        p.deliver(frame(0x86, {0x19}), 3);
    };
    SBEPKeyUpRequest key;
    EXPECT_NO_THROW(key.send(port));
    EXPECT_EQ(port.sent.size(), 1u);
}

TEST_F(Exchange, UnsupportedIsNeverRetried)
{
    port.onFrame = [](ScriptedPort& p, const Bytes&) {
        p.deliver(kAck);
        p.deliver(frame(0x86, {0x20}), 3);
    };
    SBEPSoftpotReadRequest read(1);
    EXPECT_THROW(read.send(port), UnsupportedMessage);
    EXPECT_EQ(port.sent.size(), 1u);
}

TEST_F(Exchange, ReplyInTheBurstIsReadWholeHoweverTheLineChunksIt)
{
    const Bytes reply = frame(0x99, {});
    const Bytes burst = concat(kAck, reply);
    std::vector<Delivery> deliveries{{Delivery::OnePiece, 0}, {Delivery::ByteByByte, 0}};
    for (int i = 1; i < static_cast<int>(burst.size()); ++i)
        deliveries.push_back({Delivery::SplitAt, i});
    for (const auto& d : deliveries) {
        SCOPED_TRACE(::testing::Message() << "delivery " << d.kind << " split " << d.split);
        port.delivery = d;
        port.sent.clear();
        port.onFrame = [&](ScriptedPort& p, const Bytes&) { p.deliver(burst); };
        SBEPKeyUpRequest key;
        const auto t0 = clock.ticks();
        EXPECT_NO_THROW(key.send(port));
        EXPECT_EQ(port.sent.size(), 1u);
        EXPECT_EQ(port.pendingBytes(), 0u);
        EXPECT_LT(clock.ticks() - t0, 60u) << "no reply wait when it came with the acknowledgement";
    }
}

TEST_F(Exchange, ReplyReaderRejectsMalformedFramesWithoutOverrun)
{
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"wrong checksum", {0xF2, 0x8A, 0x01, 0x00}},
        {"short opcode, checksum only", {0x71, 0x8E}},
        {"extended size of zero", {0xFF, 0x8A, 0x00, 0x00}},
        {"negative acknowledge where 0x80 is expected", {0x60}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port.deliver(c.bytes);
        EXPECT_THROW(SBEPReply(port, 0x80, 250), BadReply);
        clock.advance(10);
        port.purgeInput();
    }
    // A frame announced longer than what arrives times out instead of hanging.
    port.deliver({0xFF, 0x8A, 0x00, 0x20, 0x01});
    EXPECT_THROW(SBEPReply(port, 250u), TimeoutOnReceive);
}

TEST_F(Exchange, BurstAccessorsFollowTheReplyLayout)
{
    // Echo of a 6-byte softpot request, acknowledgement, softpot reply.
    SBEPSoftpotReadRequest read(1);
    const Bytes reply = frame(0x8A, {0x01, 0x00, 0x00, 0x12, 0x34});
    port.onFrame = [&](ScriptedPort& p, const Bytes&) { p.deliver(concat(kAck, reply)); };
    port.write(read.data(), static_cast<unsigned>(read.size()));
    const int list[] = {5, 6};
    SBEPReply ack(port, list, 2, 250, read.size());
    EXPECT_EQ(ack.opcode(), 5);
    EXPECT_TRUE(replyFollows());
    EXPECT_FALSE(burstUnsupported());
    EXPECT_EQ(burstIndex, 6);
    EXPECT_EQ(burstLong(), 0x1234u);
    EXPECT_EQ(burstWord(), 0u);

    unsigned char copy[60] = {};
    copyBurstReply(copy);
    EXPECT_EQ(Bytes(copy, copy + reply.size()), reply);
}
