// Every request exchanged for real: the port over a pseudo-terminal, the
// simulated radio on the other end, in each of its reply modes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "archive/file_module.h"
#include "link/com_ini.h"
#include "protocol/radio_connection.h"
#include "protocol/sbep_requests.h"
#include "service/radio_operations.h"
#include "sim/simulated_radio.h"

using namespace tolvan;
using Timing = sim::RadioOptions::Timing;

namespace {

std::vector<unsigned char> pattern(std::size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>((i * 13 + seed * 101 + 7) & 0xFF);
    return v;
}

struct Mode {
    const char* name;
    Timing timing;
    bool pace;
    bool pipelined;
};

const Mode kModes[] = {
    {"burst", Timing::Burst, false, false},
    {"burst paced", Timing::Burst, true, false},
    {"late", Timing::Late, false, false},
    {"bytewise at 9600 baud", Timing::Bytewise, true, false},
    {"split", Timing::Split, false, false},
    {"pipelined burst", Timing::Burst, false, true},
    {"pipelined late", Timing::Late, false, true},
    {"pipelined split", Timing::Split, false, true},
};

class RadioConnection : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override
    {
        sim::RadioOptions o;
        o.timing = GetParam().timing;
        o.pace = GetParam().pace;
        o.pipelined = GetParam().pipelined;
        o.lateMs = 15;
        o.seed = 7;
        radio = std::make_unique<sim::SimulatedRadio>(o);
        radio->start();
    }
    void TearDown() override { radio->stop(); }

    std::unique_ptr<sim::SimulatedRadio> radio;
};

std::string modeName(const ::testing::TestParamInfo<Mode>& info)
{
    std::string s = info.param.name;
    for (auto& c : s)
        if (c == ' ')
            c = '_';
    return s;
}

}  // namespace

TEST_P(RadioConnection, WriteMemoryLandsByteForByte)
{
    cominit connection(radio->devicePath());
    std::uint32_t address = 0x10000;
    for (unsigned length : {0u, 64u, 65u, 130u, 200u}) {
        SCOPED_TRACE(length);
        const auto data = pattern(length, length);
        radio->clearFrames();
        connection.sbep.writeMemory(data.data(), static_cast<int>(address), length);
        EXPECT_EQ(radio->readMemory(address, length), std::vector<std::uint8_t>(data.begin(), data.end()));
        // Frames of at most 64 data bytes at consecutive addresses.
        std::size_t writes = 0, closing = 0;
        for (const auto& f : radio->frames()) {
            if (f.bytes.size() < 6 || f.bytes[1] != 0x17)
                continue;
            ++writes;
            if (f.bytes.size() == 6 && f.bytes[2] == 0 && f.bytes[3] == 0 && f.bytes[4] == 0)
                ++closing;
        }
        const std::size_t dataFrames = length == 0 ? 1 : (length + 63) / 64;
        if (GetParam().pipelined) {
            EXPECT_EQ(writes, dataFrames + closing);
            EXPECT_GE(closing, 1u) << "pipelined: a closing empty write";
        } else {
            EXPECT_EQ(writes, dataFrames);
        }
        address += 0x1000;
    }
}

TEST_P(RadioConnection, EveryReadAndWriteRequestWorks)
{
    cominit connection(radio->devicePath());
    const auto data = pattern(70, 5);
    connection.sbep.writeMemory(data.data(), 0x2000, 70);
    std::vector<unsigned char> back(70);
    connection.sbep.readMemory(back.data(), 0x2000, 70);
    EXPECT_EQ(back, data);

    radioOperations ops;
    radioStorage storage;
    char serial[11];
    ops.readSerialNumber(storage, serial, connection);
    EXPECT_STREQ(serial, "ABCDEFGHIJ");
    ops.readTempComp(storage, connection);
    EXPECT_EQ(storage.getTempCompValue(), 0x0012ABCD);

    const unsigned char tc[] = {0x00, 0x00, 0x56, 0x78};
    connection.sbep.writeSoftpot(1, 1, tc, 4);
    EXPECT_EQ(radio->tempComp(), 0x5678u);
    connection.sbep.writeSerialNumber("ZYXWVUTSRQ");
    EXPECT_EQ(radio->serial(), "ZYXWVUTSRQ");
    connection.sbep.writeSoftpotValue(2, 1, 0x1234, 2);
    int value = 0;
    EXPECT_EQ(connection.sbep.readSoftpot(2, &value), 4);
    EXPECT_EQ(value, 0x1234);
    unsigned char bytes[4];
    EXPECT_EQ(connection.sbep.readSoftpotBytes(2, bytes), 4);
    EXPECT_EQ(bytes[3], 0x34);
    unsigned char model[52] = {};
    connection.sbep.readModelNumber(model);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(model) + 3, 10), "TVR-SIM-01");
    EXPECT_NO_THROW(connection.sbep.keyUp());
    EXPECT_NO_THROW(connection.sbep.dekey());
    EXPECT_NO_THROW(connection.sbep.selectChannel(5, 3));
    EXPECT_NO_THROW(connection.sbep.selectChannel(5, 2, 6, 3));
    EXPECT_NO_THROW(connection.sbep.setTestMode(1, 2, 3));
    EXPECT_NO_THROW(connection.sbep.autoTune(2, &value, 0, 1));
    EXPECT_EQ(value, 0x1234);
    EXPECT_NO_THROW(connection.sbep.reset());
}

INSTANTIATE_TEST_SUITE_P(Modes, RadioConnection, ::testing::ValuesIn(kModes), modeName);

class RadioFaults : public ::testing::Test {
protected:
    void SetUp() override { radio.start(); }
    void TearDown() override { radio.stop(); }
    sim::SimulatedRadio radio;
};

TEST_F(RadioFaults, EachFaultEndsInItsErrorOrARetriedSuccess)
{
    enum class Op { Write, SerialQuery, TempComp };
    struct Case {
        const char* fault;
        Op op;
        int code;  // 0: succeeds after retries
    };
    // Memory writes wait 2 s for a quiet line before each retry, so write
    // cases that retry are few here; the fault matrix runs every pair.
    const Case cases[] = {
        {"nak:count=1", Op::Write, 0},
        {"nak", Op::TempComp, 6203},
        {"bad-checksum:count=2", Op::SerialQuery, 0},
        {"bad-checksum", Op::TempComp, 6205},
        {"lost-ack:count=1", Op::TempComp, 0},
        {"lost-ack", Op::SerialQuery, 6014},
        {"lost-reply", Op::SerialQuery, 6014},
        // A softpot reply past its limit fails that attempt; it then arrives
        // during the retry and, naming the same softpot, completes it.
        {"late-reply:delay=600", Op::TempComp, 0},
        {"lost-reply", Op::TempComp, 6014},
        {"wrong-address:count=1", Op::Write, 0},
        {"wrong-id", Op::TempComp, 6205},
        {"fail-write:address=0x3000", Op::Write, 6206},
        {"unsupported", Op::TempComp, 6202},
        {"unsupported", Op::SerialQuery, 6202},
        {"silent", Op::SerialQuery, 6014},
        {"mute", Op::SerialQuery, 6014},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + " op " + std::to_string(static_cast<int>(c.op)));
        std::string error;
        auto rule = sim::FaultRule::parse(c.fault, &error);
        ASSERT_TRUE(rule) << error;
        // A radio of its own per case: a late reply of one case must not answer the next.
        sim::RadioOptions o;
        o.faults = {*rule};
        sim::SimulatedRadio faulty(o);
        faulty.start();
        int code = 0;
        try {
            cominit connection(faulty.devicePath());
            radioOperations ops;
            radioStorage storage;
            char serial[11];
            const auto data = pattern(8, 1);
            switch (c.op) {
            case Op::Write: connection.sbep.writeMemory(data.data(), 0x3000, 8); break;
            case Op::SerialQuery: ops.readSerialNumber(storage, serial, connection); break;
            case Op::TempComp: ops.readTempComp(storage, connection); break;
            }
        } catch (const Exception& e) {
            code = e.code;
        }
        EXPECT_EQ(code, c.code);
    }
}

TEST_F(RadioFaults, ResetWithoutAnswerIsSilent)
{
    std::string error;
    radio.setFaults({*sim::FaultRule::parse("lost-ack", &error)});
    cominit connection(radio.devicePath());
    radio.clearFrames();
    EXPECT_NO_THROW(connection.sbep.reset());
    EXPECT_EQ(radio.frameCount(), 1u) << "a reset is transmitted once";
}

TEST_F(RadioFaults, OperationWithoutPortSendsNothing)
{
    EnhancedSBEP bare;
    unsigned char b[4];
    EXPECT_THROW(bare.readMemory(b, 0, 4), GeneralCommunicationError);
    EXPECT_THROW(bare.reset(), GeneralCommunicationError);
}

class ConfiguredPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tolvan-conn-XXXXXX";
        dir = mkdtemp(tmpl);
        workingDirectory() = dir;
        lastPortId() = 0;
        radio.start();
        setenv("TOLVAN_COM2", radio.devicePath().c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("TOLVAN_COM2");
        radio.stop();
        std::filesystem::remove_all(dir);
    }
    std::string dir;
    sim::SimulatedRadio radio;
};

TEST_F(ConfiguredPort, PortHeldByAnotherProgramIsInUseAndNothingIsSent)
{
    fileModule ini;
    ASSERT_TRUE(ini.writeComPortId(2));
    const int fd = open(radio.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_THROW(cominit{}, PortInUseError);
    close(fd);
    EXPECT_EQ(radio.frameCount(), 0u);
}

TEST_F(ConfiguredPort, LastPortIsKeptWhenComIniGoesAway)
{
    EXPECT_THROW(cominit{}, PortInUseError) << "no com.ini yet: COM0";
    fileModule ini;
    ASSERT_TRUE(ini.writeComPortId(2));
    {
        cominit first;
        EXPECT_EQ(first.devicePath(), radio.devicePath());
    }
    std::filesystem::remove(dir + "/com.ini");
    cominit second;
    EXPECT_EQ(second.devicePath(), radio.devicePath());
    radioOperations ops;
    radioStorage storage;
    char serial[11];
    ops.readSerialNumber(storage, serial, second);
    EXPECT_STREQ(serial, "ABCDEFGHIJ");
}
