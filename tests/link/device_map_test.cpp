#include "link/device_map.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "archive/file_module.h"

namespace tolvan {
namespace {

// A scratch working directory with no TOLVAN_COM* variables in the way.
class DeviceMapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tolvan-devmap-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        savedDirectory_ = workingDirectory();
        workingDirectory() = dir_;
        for (int n : kPorts)
            unsetenv(envName(n).c_str());
    }
    void TearDown() override
    {
        for (int n : kPorts)
            unsetenv(envName(n).c_str());
        workingDirectory() = savedDirectory_;
        std::filesystem::remove_all(dir_);
    }

    static std::string envName(int n) { return "TOLVAN_COM" + std::to_string(n); }

    void writePortsFile(const std::string& content)
    {
        std::ofstream out(std::filesystem::path(dir_) / "ports.conf", std::ios::binary);
        out << content;
    }

    static constexpr int kPorts[] = {0, 1, 2, 3, 4, 5, 6, 7, 30};
    std::string dir_;
    std::string savedDirectory_;
};

TEST_F(DeviceMapTest, DefaultIsTheNumberedSerialDevice)
{
    EXPECT_EQ(comDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(comDevicePath(4), "/dev/ttyS3");
    EXPECT_EQ(comDevicePath(0), "/dev/ttyS-1");
}

TEST_F(DeviceMapTest, PortsFileLines)
{
    const std::string longPath = "/dev/" + std::string(100000, 'x');
    writePortsFile("# adapters on this bench\n"
                   "\n"
                   "#COM1=/dev/commented\n"
                   "   COM2   =   /dev/ttyUSB0   \n"
                   "COM3=/dev/ttyACM1\r\n"
                   "COM30=/dev/thirty\n"
                   "COM4=\n"
                   "no equals sign here\n"
                   "COM5=" + longPath + "\n"
                   "COM6=/dev/first\n"
                   "COM6=/dev/second\n"
                   "COM7=/dev/last-line-without-newline");
    struct Row {
        int port;
        std::string path;
    };
    const Row rows[] = {
        {1, "/dev/ttyS0"},      {2, "/dev/ttyUSB0"}, {3, "/dev/ttyACM1"}, {30, "/dev/thirty"},
        {4, "/dev/ttyS3"},      {5, longPath},       {6, "/dev/first"},   {7, "/dev/last-line-without-newline"},
        {0, "/dev/ttyS-1"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(comDevicePath(row.port), row.path) << "COM" << row.port;
}

TEST_F(DeviceMapTest, EnvironmentBeatsFileBeatsDefault)
{
    writePortsFile("COM2=/dev/from-file\n");
    EXPECT_EQ(comDevicePath(2), "/dev/from-file");
    setenv("TOLVAN_COM2", "/dev/from-env", 1);
    EXPECT_EQ(comDevicePath(2), "/dev/from-env");
    setenv("TOLVAN_COM2", "", 1);
    EXPECT_EQ(comDevicePath(2), "/dev/from-file");
    setenv("TOLVAN_COM3", "/dev/env-only", 1);
    EXPECT_EQ(comDevicePath(3), "/dev/env-only");
    std::filesystem::remove(std::filesystem::path(dir_) / "ports.conf");
    EXPECT_EQ(comDevicePath(2), "/dev/ttyS1");
}

TEST_F(DeviceMapTest, FileIsLookedForInTheWorkingDirectoryOnly)
{
    writePortsFile("COM2=/dev/from-file\n");
    workingDirectory() = dir_ + "/";
    EXPECT_EQ(comDevicePath(2), "/dev/from-file");
    workingDirectory() = dir_ + "/elsewhere";
    EXPECT_EQ(comDevicePath(2), "/dev/ttyS1");
}

}  // namespace
}  // namespace tolvan
