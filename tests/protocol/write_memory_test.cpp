#include <gtest/gtest.h>

#include "protocol/radio_connection.h"
#include "protocol/sbep_requests.h"
#include "scripted_port.h"

using namespace tolvan;
using namespace tolvan::testing;

namespace {

struct WriteFrame {
    std::uint32_t address;
    std::size_t length;
};

// The write frames a script saw, decoded.
std::vector<WriteFrame> writes(const std::vector<Bytes>& sent)
{
    std::vector<WriteFrame> out;
    for (const auto& f : sent) {
        if (frameOpcode(f.data()) != 0x17)
            continue;
        const unsigned char* d = f.data() + frameDataOffset(f.data());
        out.push_back({unpackBigEndian(d, 3), static_cast<std::size_t>(frameDataLength(f.data()) - 3)});
    }
    return out;
}

class WriteMemory : public ::testing::Test {
protected:
    // Answers each write with the address the given rule names, in the burst.
    void radio(std::function<std::uint32_t(std::uint32_t own)> rule)
    {
        port.onFrame = [rule](ScriptedPort& p, const Bytes& f) {
            const int op = frameOpcode(f.data());
            if (op == 0x17) {
                const std::uint32_t own = unpackBigEndian(f.data() + frameDataOffset(f.data()), 3);
                p.deliver(concat({0x50}, frame(0x84, address3(rule(own)))));
            } else if (op == 0x11) {
                const unsigned char* d = f.data() + frameDataOffset(f.data());
                p.deliver(concat({0x50}, frame(0x80, Bytes(d[0], 0xEE))));
            }
        };
    }

    FakeClock clock{1};
    ScopedTickSource scope{clock};
    ScriptedPort port{clock};
    EnhancedSBEP sbep;
    std::vector<unsigned char> data = std::vector<unsigned char>(300, 0x5A);
};

}  // namespace

TEST_F(WriteMemory, ConfirmedFormCutsFramesOfSixtyFour)
{
    radio([](std::uint32_t own) { return own; });
    sbep.setPort(&port);
    sbep.writeMemory(data.data(), 0x1000, 200);
    const auto w = writes(port.sent);
    ASSERT_EQ(w.size(), 4u);
    const WriteFrame expected[] = {{0x1000, 64}, {0x1040, 64}, {0x1080, 64}, {0x10C0, 8}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(w[i].address, expected[i].address);
        EXPECT_EQ(w[i].length, expected[i].length);
    }

    for (unsigned length : {0u, 64u, 65u}) {
        port.sent.clear();
        sbep.writeMemory(data.data(), 0x2000, length);
        EXPECT_EQ(writes(port.sent).size(), length == 65 ? 2u : 1u) << length;
    }
}

TEST_F(WriteMemory, PipelinedFormClosesWithAnEmptyWrite)
{
    // Each reply names the write before it; the first names none.
    auto last = std::make_shared<std::uint32_t>(0xFFFFFF);
    radio([last](std::uint32_t own) {
        const std::uint32_t named = *last;
        *last = own;
        return named;
    });
    sbep.setPort(&port);
    sbep.writeMemory(data.data(), 0x1000, 64);
    auto w = writes(port.sent);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[1].address, 0u);
    EXPECT_EQ(w[1].length, 0u);

    port.sent.clear();
    *last = 0xFFFFFF;
    sbep.writeMemory(data.data(), 0x3000, 130);
    w = writes(port.sent);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[3].address, 0u);
}

TEST_F(WriteMemory, PipelinedFrameConfirmedDirectlyEndsTheWrite)
{
    // Pipelined at first, then the radio catches up and confirms a frame itself.
    int n = 0;
    radio([&n](std::uint32_t own) { return ++n == 1 ? 0xFFFFFFu : own; });
    sbep.setPort(&port);
    EXPECT_NO_THROW(sbep.writeMemory(data.data(), 0x1000, 200));
    const auto w = writes(port.sent);
    ASSERT_EQ(w.size(), 4u) << "no closing write is needed once a frame is confirmed directly";
    EXPECT_EQ(w.back().address, 0x10C0u);
}

TEST_F(WriteMemory, ReadMemoryFraming)
{
    radio([](std::uint32_t own) { return own; });
    sbep.setPort(&port);
    const struct {
        unsigned length;
        std::vector<int> frames;
    } cases[] = {{0, {}}, {64, {64}}, {65, {64, 1}}, {130, {64, 64, 2}}};
    for (const auto& c : cases) {
        port.sent.clear();
        std::vector<unsigned char> dest(c.length + 1, 0);
        sbep.readMemory(dest.data(), 0x100, c.length);
        std::vector<int> got;
        for (const auto& f : port.sent)
            got.push_back(f[2]);
        EXPECT_EQ(got, c.frames) << c.length;
        EXPECT_EQ(std::count(dest.begin(), dest.end(), 0xEE), static_cast<long>(c.length));
    }
}
