#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/file_module.h"
#include "link/com_ini.h"
#include "tests/archive/temp_dir.h"

namespace tolvan {
namespace {

using testing::TempDir;

// Points the shared working directory at a scratch directory for one test.
class ComIniTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDirectory = workingDirectory();
        savedPort = lastPortId();
        workingDirectory() = dir.path();
    }
    void TearDown() override
    {
        workingDirectory() = savedDirectory;
        lastPortId() = savedPort;
    }

    TempDir dir;
    fileModule settings;
    std::string savedDirectory;
    int savedPort = 0;
};

TEST_F(ComIniTest, WrittenFileHoldsTheExactBytesAndReadsBackOneDigit)
{
    const struct {
        int port;
        const char* bytes;
        int readBack;
    } cases[] = {
        {4, "COM Port Id :4\n ", 4},
        {3, "COM Port Id :3\n ", 3},
        {12, "COM Port Id :12\n ", 1},
        {-1, "COM Port Id :-1\n ", 0},  // the dialog's Apply without a choice
        {0, "COM Port Id :0\n ", 0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(settings.writeComPortId(c.port)) << c.port;
        EXPECT_EQ(dir.read("com.ini"), c.bytes) << c.port;
        EXPECT_EQ(settings.readComPortId(), c.readBack) << c.port;
        EXPECT_EQ(settings.file, nullptr);
    }
}

TEST_F(ComIniTest, ReadTakesTheFirstCharacterAfterTheFirstColon)
{
    std::string huge(1 << 20, 'a');
    const struct {
        std::string content;
        int port;
    } cases[] = {
        {"Port:  3", 3},
        {"COM Port Id :7\r\n ", 7},
        {"COM Port Id :x\n ", 0},
        {"COM Port Id :\t5\n", 0},          // only blanks are skipped
        {"no colon at all\n", 0},
        {"COM Port Id :\n7", 0},             // a line end where the value belongs
        {"COM Port Id :\r\n7", 0},
        {"a:\nb: 5", 0},                     // the second colon is never consulted
        {"", 0},
        {"COM Port Id :   ", 0},             // blanks up to the end of the file
        {std::string("\x00\x01:\x09\xff", 5), 0},
        {":5" + huge, 5},
        {huge + ":5", 0},                    // the colon lies past the bytes read
    };
    for (const auto& c : cases) {
        dir.write("com.ini", c.content);
        EXPECT_EQ(settings.readComPortId(), c.port) << c.content.substr(0, 40);
    }
}

TEST_F(ComIniTest, MissingOrUnusableFileReadsMinusOneAndRefusesWrites)
{
    EXPECT_EQ(settings.readComPortId(), -1);

    // A directory named com.ini opens on Linux but cannot be read.
    ASSERT_EQ(::mkdir((dir.path() + "/com.ini").c_str(), 0700), 0);
    EXPECT_EQ(settings.readComPortId(), -1);
    EXPECT_FALSE(settings.writeComPortId(2));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/com.ini"));

    // A working directory that is a plain file: nothing can be created in it, even by root.
    workingDirectory() = dir.write("plain", "COM Port Id :6\n ");
    EXPECT_FALSE(settings.writeComPortId(2));
    EXPECT_EQ(settings.readComPortId(), -1);
    EXPECT_EQ(dir.read("plain"), "COM Port Id :6\n ");
    EXPECT_EQ(settings.file, nullptr);
}

TEST_F(ComIniTest, SettingsRecordFallsBackToTheLastPortRead)
{
    lastPortId() = 0;
    {
        const RF_CommunicationSetup setup;
        EXPECT_EQ(setup.portId, 0);  // no com.ini yet: COM0, which no port answers to
        EXPECT_EQ(setup.baudRate, 9600);
        EXPECT_EQ(setup.parity, 0);
        EXPECT_EQ(setup.byteSize, 8);
        EXPECT_EQ(setup.stopBits, 0);
    }
    EXPECT_EQ(lastPortId(), 0);

    ASSERT_TRUE(fileModule().writeComPortId(2));
    EXPECT_EQ(RF_CommunicationSetup().portId, 2);
    EXPECT_EQ(lastPortId(), 2);

    std::filesystem::remove(dir.path() + "/com.ini");
    EXPECT_EQ(RF_CommunicationSetup().portId, 2);
    EXPECT_EQ(lastPortId(), 2);

    // A readable file without a digit is a read all the same: it replaces the fallback.
    dir.write("com.ini", "COM Port Id :x\n ");
    EXPECT_EQ(RF_CommunicationSetup().portId, 0);
    EXPECT_EQ(lastPortId(), 0);
    std::filesystem::remove(dir.path() + "/com.ini");
    EXPECT_EQ(RF_CommunicationSetup().portId, 0);
}

}  // namespace
}  // namespace tolvan
