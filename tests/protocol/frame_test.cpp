#include <gtest/gtest.h>

#include "protocol/sbep_message.h"
#include "protocol/sbep_requests.h"
#include "scripted_port.h"

using namespace tolvan;
using tolvan::testing::Bytes;

namespace {

Bytes bytesOf(SBEPMessage& m) { return Bytes(m.data(), m.data() + m.size()); }

struct FrameCase {
    const char* name;
    int opcode;
    Bytes data;
    Bytes expected;  // whole frame, or its beginning when `prefixOnly`
    bool prefixOnly;
    int length;
};

}  // namespace

TEST(Frame, BuildsTheFramesOfTheProtocol)
{
    Bytes fourteen(14, 0);
    Bytes thirteen(13, 0);
    const FrameCase cases[] = {
        {"acknowledge", 5, {}, {0x50}, false, 1},
        {"negative acknowledge", 6, {}, {0x60}, false, 1},
        {"reset", 0x10, {}, {0xF1, 0x10, 0xFE}, false, 3},
        {"serial number query", 0x23, {1}, {0xF2, 0x23, 0x01, 0xE9}, false, 4},
        {"softpot read of 1", 0x20, {1, 0, 0}, {0xF4, 0x20, 0x01, 0x00, 0x00, 0xEA}, false, 6},
        {"14 data bytes switch to the two-byte size", 3, fourteen, {0x3F, 0x00, 0x0F}, true, 18},
        {"13 data bytes keep the size nibble", 3, thirteen, {0x3E}, true, 15},
        {"extended opcode, 14 data bytes", 0x17, fourteen, {0xFF, 0x17, 0x00, 0x0F}, true, 19},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SBEPMessage m(c.opcode, c.data.data(), static_cast<int>(c.data.size()));
        ASSERT_EQ(m.size(), c.length);
        ASSERT_EQ(frameLength(c.opcode, static_cast<int>(c.data.size())), c.length);
        Bytes got = bytesOf(m);
        if (c.prefixOnly)
            got.resize(c.expected.size());
        EXPECT_EQ(got, c.expected);
        EXPECT_TRUE(hasValidChecksum(m.data()));
        EXPECT_EQ(frameTotalLength(m.data()), c.length);
        EXPECT_EQ(frameDataLength(m.data()), static_cast<int>(c.data.size()));
        EXPECT_EQ(frameOpcode(m.data()), c.opcode);
        if (m.size() > 1) {
            EXPECT_EQ(byteSum(m.data(), m.size()), 0xFF);
        }
    }
}

TEST(Frame, RequestFramesMatchTheirExamples)
{
    Bytes sixtyFour(64);
    for (int i = 0; i < 64; ++i)
        sixtyFour[i] = static_cast<std::uint8_t>(i);
    SBEPWriteRequest big(sixtyFour.data(), 0x001000, 64);
    ASSERT_EQ(big.size(), 72);
    EXPECT_EQ(Bytes(big.data(), big.data() + 7), (Bytes{0xFF, 0x17, 0x00, 0x44, 0x00, 0x10, 0x00}));
    EXPECT_EQ(big.address(), 0x1000);

    const unsigned char two[] = {0xAA, 0x55};
    SBEPWriteRequest small(two, 0x001000, 2);
    EXPECT_EQ(bytesOf(small), (Bytes{0xF6, 0x17, 0x00, 0x10, 0x00, 0xAA, 0x55, 0xE3}));

    SBEPWriteSerialNoRequest serial("ABCDEFGHIJ");
    EXPECT_EQ(bytesOf(serial), (Bytes{0xFC, 0x18, 0x00, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x34}));

    SBEPResetRequest reset;
    EXPECT_EQ(bytesOf(reset), (Bytes{0xF1, 0x10, 0xFE}));
    EXPECT_EQ(reset.noRetry, 1);

    SBEPRadioSerialNoRequest query;
    EXPECT_EQ(bytesOf(query), (Bytes{0xF2, 0x23, 0x01, 0xE9}));
    SBEPSoftpotReadRequest softpot(1);
    EXPECT_EQ(bytesOf(softpot), (Bytes{0xF4, 0x20, 0x01, 0x00, 0x00, 0xEA}));
    EXPECT_EQ(softpot.softpotId(), 1);

    const unsigned char tc[] = {0x00, 0x12, 0xAB, 0xCD};
    SBEPSoftpotWriteRequest write(1, 1, tc, 4);
    SBEPSoftpotWriteRequest writeValue(1, 1, 0x0012ABCD, 4);
    EXPECT_EQ(bytesOf(write), bytesOf(writeValue));
    EXPECT_EQ(Bytes(write.data() + 2, write.data() + 8), (Bytes{0x01, 0x01, 0x00, 0x12, 0xAB, 0xCD}));

    unsigned char dest[4];
    SBEPReadRequest read(dest, 0x123456, 4);
    EXPECT_EQ(bytesOf(read), (Bytes{0xF5, 0x11, 0x04, 0x12, 0x34, 0x56, static_cast<std::uint8_t>(0xFF - ((0xF5 + 0x11 + 0x04 + 0x12 + 0x34 + 0x56) & 0xFF))}));
    EXPECT_EQ(read.requestedLength(), 4);

    SBEPAutoTuneRequest tune(7);
    EXPECT_EQ(frameOpcode(tune.data()), 0x1F);
    EXPECT_EQ(tune.softpotId(), 7);

    SBEPKeyUpRequest key;
    SBEPDekeyRequest dekey;
    EXPECT_EQ(key.data()[2], 1);
    EXPECT_EQ(dekey.data()[2], 0);
    SBEPChannelRequest one(0x0102, 3), twoChannels(0x0102, 2, 0x0304, 3);
    EXPECT_EQ(Bytes(one.data() + 2, one.data() + 5), (Bytes{0x80, 0x01, 0x02}));
    EXPECT_EQ(Bytes(twoChannels.data() + 2, twoChannels.data() + 7), (Bytes{0x40, 0x01, 0x02, 0x03, 0x04}));
}

TEST(Frame, CopyFromBytesChecksTheChecksum)
{
    const unsigned char good[] = {0xF2, 0x23, 0x01, 0xE9};
    SBEPMessage copy(good);
    EXPECT_EQ(bytesOf(copy), Bytes(good, good + 4));

    const unsigned char bad[] = {0xF2, 0x23, 0x01, 0xE8};
    EXPECT_THROW(SBEPMessage{bad}, BadMessage);

    const unsigned char ack[] = {0x50};
    SBEPMessage one(ack);
    EXPECT_EQ(one.size(), 1);
}

TEST(Frame, CopiesShareOneBody)
{
    auto* first = new SBEPMessage(0x23, static_cast<unsigned char>(1));
    SBEPMessage second(*first);
    EXPECT_EQ(second.useCount(), 2);
    EXPECT_EQ(first->data(), second.data());
    delete first;
    EXPECT_EQ(second.useCount(), 1);
    EXPECT_EQ(bytesOf(second), (Bytes{0xF2, 0x23, 0x01, 0xE9}));
}
