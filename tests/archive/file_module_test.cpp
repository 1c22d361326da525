#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive_check.h"
#include "archive/file_module.h"
#include "tests/archive/temp_dir.h"

namespace tolvan {
namespace {

using testing::TempDir;
using testing::load;

std::vector<unsigned char> reversedHex(fileModule& module, unsigned line, unsigned count)
{
    std::vector<unsigned char> bytes(count, 0xEE);
    module.readReversedHexLine(line, bytes.data(), count);
    return bytes;
}

TEST(ConvertUtil, HexPairToByteReadsTwoCharactersNonHexAsZero)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {{"0A", 10}, {"a0", 160}, {"00", 0}, {"G1", 1}, {"fF", 255}, {"1G", 16}, {"7f", 127}, {"ZZ", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(hexPairToByte(c.text), c.value) << c.text;
    }
    // Only the pair is read: no terminator needed behind it.
    const char unterminated[2] = {'F', 'E'};
    EXPECT_EQ(hexPairToByte(unterminated), 0xFE);
}

TEST(ConvertUtil, HexToNumberTakesExactlyLengthCharacters)
{
    convertUtil convert;
    EXPECT_EQ(convert.hexToNumber("00ff", 4), 255);
    EXPECT_EQ(convert.hexToNumber("0000", 4), 0);
    EXPECT_EQ(convert.hexToNumber("1234XYZ", 4), 0x1234);
    EXPECT_EQ(convert.hexToNumber("7FFFFFFF", 8), 0x7FFFFFFF);
    EXPECT_EQ(convert.hexToNumber("ABC", 0), 0);
    EXPECT_EQ(convert.hexToNumber("1x2", 3), 0x102);
}

class FileModuleTest : public ::testing::Test {
protected:
    void loadText(std::string_view text) { load(module, dir.write("archive.tvn", text)); }

    TempDir dir;
    fileModule module;
};

TEST_F(FileModuleTest, ShortFileReadsFalseYetRecordsDecode)
{
    std::string text = "1\n4096\n3\nBA4321\n";
    text += std::string(100 - text.size() - 1, 'z') + "\n";  // trailing lines are never read
    ASSERT_EQ(text.size(), 100U);
    const std::string path = dir.write("short.tvn", text);
    ASSERT_TRUE(module.openForRead(path.c_str()));
    EXPECT_FALSE(module.readAll());
    EXPECT_EQ(module.itemsRead, 0);
    EXPECT_EQ(module.bytesRead, 100);
    EXPECT_FALSE(module.truncated);
    EXPECT_EQ(module.closeFile(), 0);
    EXPECT_EQ(std::string(module.buffer, 100), text);
    EXPECT_EQ(module.readNumberLine(1), 1);
    EXPECT_EQ(module.readNumberLine(2), 4096);
    EXPECT_EQ(module.readNumberLine(3), 3);
    EXPECT_EQ(reversedHex(module, 4, 3), (std::vector<unsigned char>{0x12, 0x34, 0xAB}));
}

TEST_F(FileModuleTest, LongFileFillsBufferOnlyAndReadsTrue)
{
    std::string text;
    while (text.size() < 20000) {
        text += std::to_string(text.size() % 97) + "\n";
    }
    const std::string path = dir.write("long.tvn", text);
    ASSERT_TRUE(module.openForRead(path.c_str()));
    EXPECT_TRUE(module.readAll());
    EXPECT_EQ(module.itemsRead, 1);
    EXPECT_EQ(module.bytesRead, fileModule::kBufferSize);
    EXPECT_TRUE(module.truncated);
    EXPECT_LE(std::ftell(module.file), fileModule::kBufferSize + 1);
    module.closeFile();
    EXPECT_EQ(std::string(module.buffer, fileModule::kBufferSize), text.substr(0, fileModule::kBufferSize));

    // Exactly one buffer: full, yet nothing was cut.
    load(module, dir.write("exact.tvn", text.substr(0, fileModule::kBufferSize)));
    EXPECT_EQ(module.itemsRead, 1);
    EXPECT_FALSE(module.truncated);
}

TEST_F(FileModuleTest, CrLfArrivesAsLfAndCountsOnce)
{
    // 16500 bytes on disk, 15000 after translation: all of it fits.
    std::string lf;
    while (lf.size() < 15000) {
        lf += "1234\n";
    }
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    }
    ASSERT_GT(crlf.size(), static_cast<std::size_t>(fileModule::kBufferSize));
    loadText(crlf);
    EXPECT_EQ(module.bytesRead, 15000);
    EXPECT_FALSE(module.truncated);
    EXPECT_EQ(std::string(module.buffer, 15000), lf);

    // A lone CR stays; CR CR LF leaves one CR before the LF.
    loadText("a\rb\r\r\nc\r");
    EXPECT_EQ(std::string(module.buffer, static_cast<std::size_t>(module.bytesRead)), "a\rb\r\nc\r");

    // A CR-LF pair straddling the buffer's end is one byte, the last one.
    loadText(std::string(fileModule::kBufferSize - 1, 'x') + "\r\nrest");
    EXPECT_EQ(module.buffer[fileModule::kBufferSize - 1], '\n');
    EXPECT_TRUE(module.truncated);
}

TEST_F(FileModuleTest, NumberLinesFollowAtolOverAtMostNineteenCharacters)
{
    loadText("42abc\n-7\n\n   15\n+8\n1234567890123456789012345\n99999999999999999999\n-99999999999999999999\nx5\n\t\r 3\n12");
    const struct {
        unsigned line;
        long value;
    } cases[] = {{1, 42}, {2, -7}, {3, 0}, {4, 15}, {5, 8}, {6, 1234567890123456789L}, {7, LONG_MAX}, {8, -999999999999999999L},
                 {9, 0}, {10, 3}, {11, 12}, {12, 0}, {500, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(module.readNumberLine(c.line), c.value) << "line " << c.line;
    }
    // linePos ends on the LF of the line read.
    module.readNumberLine(4);
    EXPECT_EQ(module.buffer[module.linePos], '\n');
    EXPECT_EQ(module.linePos, 15);
}

TEST_F(FileModuleTest, SeekLineCountsFromTheStartAndStopsAtTheData)
{
    loadText("ab\ncd\n\nef");
    const struct {
        unsigned line;
        int pos;
    } cases[] = {{0, 0}, {1, 0}, {2, 3}, {3, 6}, {4, 7}, {5, 9}, {1000000, 9}};
    for (const auto& c : cases) {
        module.linePos = -1;
        module.seekLine(c.line);
        EXPECT_EQ(module.linePos, c.pos) << "line " << c.line;
    }
}

TEST_F(FileModuleTest, ReversedHexLineUsesTheFirstTwoCountCharacters)
{
    loadText("BA4321\nb!\n");
    EXPECT_EQ(reversedHex(module, 1, 3), (std::vector<unsigned char>{0x12, 0x34, 0xAB}));
    EXPECT_EQ(reversedHex(module, 1, 2), (std::vector<unsigned char>{0x34, 0xAB}));
    EXPECT_EQ(module.linePos, 0);
    EXPECT_EQ(reversedHex(module, 1, 0), std::vector<unsigned char>{});
    // Non-hexadecimal characters decode as the digit 0.
    EXPECT_EQ(reversedHex(module, 2, 1), std::vector<unsigned char>{0x0B});
}

TEST_F(FileModuleTest, ALaterShorterFileNeverShowsTheEarlierOnesBytes)
{
    loadText("2\n16\n2\n3412\n32\n1\nFF\nA:9\n");
    const std::string shortText = "2\n16\n25";  // the long file has "2\n16\n2\n" here
    loadText(shortText);
    ASSERT_EQ(module.bytesRead, static_cast<int>(shortText.size()));
    // The earlier bytes stay behind the new ones but are never read.
    EXPECT_EQ(module.buffer[shortText.size()], '3');
    EXPECT_EQ(module.readNumberLine(3), 25);
    EXPECT_EQ(module.readNumberLine(4), 0);
    EXPECT_EQ(module.readNumberLine(5), 0);
    EXPECT_EQ(reversedHex(module, 3, 2), (std::vector<unsigned char>{0x00, 0x52}));
    module.fieldValue = '?';
    module.extractField(1, 1, &module.fieldValue);
    EXPECT_EQ(module.valueLength, 0);
    EXPECT_EQ(module.fieldValue, '?');

    const ArchiveCheck check = checkArchive(module);
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.line, 4);
}

TEST_F(FileModuleTest, ExtractFieldCountsColonsOverTheWholeBuffer)
{
    char value[8] = {};
    loadText("COM Port Id :3\n ");
    module.extractField(1, 1, value);
    EXPECT_EQ(module.valueLength, 1);
    EXPECT_EQ(value[0], '3');
    EXPECT_EQ(module.fieldIndex, 1);

    loadText("a:b\nCOM Port Id :3\n");
    module.extractField(1, 1, value);
    EXPECT_EQ(value[0], 'b');
    module.extractField(2, 5, value);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(module.valueLength)), "3");
    EXPECT_EQ(module.fieldIndex, 2);

    // Stops at the line end, at m characters and at the data; too few colons give nothing.
    loadText("x:   12 34\nzz");
    module.extractField(1, 4, value);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(module.valueLength)), "12 3");
    loadText("x: 12");
    module.extractField(1, 8, value);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(module.valueLength)), "12");
    module.extractField(2, 8, value);
    EXPECT_EQ(module.valueLength, 0);
    EXPECT_EQ(module.fieldIndex, 1);
}

TEST_F(FileModuleTest, OpenRefusesMissingFilesAndDirectories)
{
    EXPECT_FALSE(module.openForRead((dir.path() + "/missing.tvn").c_str()));
    EXPECT_EQ(module.file, nullptr);
    EXPECT_FALSE(module.openForRead(dir.path().c_str()));
    EXPECT_EQ(module.file, nullptr);
    EXPECT_FALSE(module.openForWrite(dir.path().c_str()));
    EXPECT_EQ(module.closeFile(), EOF);
    EXPECT_FALSE(module.readAll());
    EXPECT_TRUE(module.readFailed);

    // A FIFO without a writer must neither block the open nor the read.
    const std::string fifo = dir.path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(module.openForRead(fifo.c_str()));
    EXPECT_FALSE(module.readAll());
    EXPECT_EQ(module.bytesRead, 0);
    module.closeFile();
}

TEST_F(FileModuleTest, StoreWorkingDirectoryKeepsAPathOfAnyLength)
{
    const std::string saved = workingDirectory();
    char* previous = ::getcwd(nullptr, 0);
    ASSERT_NE(previous, nullptr);
    const std::string base = std::filesystem::canonical(dir.path()).string();
    // Well past the old fixed buffers and past PATH_MAX, so it is built and
    // removed one level at a time.
    const std::string name(200, 'd');
    const int levels = 25;
    ASSERT_EQ(::chdir(base.c_str()), 0);
    int made = 0;
    for (; made < levels && ::mkdir(name.c_str(), 0700) == 0 && ::chdir(name.c_str()) == 0; ++made) {
    }
    fileModule::storeWorkingDirectory();
    const std::string stored = workingDirectory();
    workingDirectory() = saved;
    for (int level = made; level > 0; --level) {
        EXPECT_EQ(::chdir(".."), 0);
        EXPECT_EQ(::rmdir(name.c_str()), 0);
    }
    EXPECT_EQ(::chdir(previous), 0);
    std::free(previous);
    ASSERT_EQ(made, levels);

    std::string expected = base;
    for (int level = 0; level < levels; ++level) {
        expected += "/" + name;
    }
    EXPECT_GT(expected.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(stored, expected);
}

}  // namespace
}  // namespace tolvan
