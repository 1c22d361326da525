#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "archive/archive_check.h"
#include "archive/file_module.h"
#include "tests/archive/temp_dir.h"

namespace tolvan {
namespace {

using testing::TempDir;

std::string toCrLf(const std::string& lf)
{
    std::string out;
    for (char c : lf) {
        out += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return out;
}

std::vector<ArchiveRecord> sampleRecords()
{
    std::vector<ArchiveRecord> records(3);
    records[0].address = 0x000100;
    records[0].data = {0x12, 0x34, 0xAB};
    records[1].address = 0xFFFFFF;  // a record of length 0 is valid anywhere up to the end
    records[2].address = 0xFFFF00;
    for (int i = 0; i < 256; ++i) {
        records[2].data.push_back(static_cast<unsigned char>(255 - i));
    }
    for (auto& record : records) {
        record.length = static_cast<long>(record.data.size());
    }
    return records;
}

void expectSameRecords(const ArchiveCheck& check, const std::vector<ArchiveRecord>& expected)
{
    ASSERT_TRUE(check.ok) << check.message();
    ASSERT_EQ(check.records.size(), expected.size());
    long total = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(check.records[i].address, expected[i].address) << i;
        EXPECT_EQ(check.records[i].length, static_cast<long>(expected[i].data.size())) << i;
        EXPECT_EQ(check.records[i].data, expected[i].data) << i;
        EXPECT_EQ(check.records[i].addressLine, static_cast<int>(3 * i + 2)) << i;
        total += static_cast<long>(expected[i].data.size());
    }
    EXPECT_EQ(check.totalBytes, total);
}

TEST(ArchiveFormat, WrittenArchiveChecksAndDecodesToTheSameBytes)
{
    const std::vector<ArchiveRecord> records = sampleRecords();
    const std::string text = formatArchive(records);
    EXPECT_EQ(text.substr(0, 15), "3\n256\n3\nBA4321\n");
    TempDir dir;
    expectSameRecords(checkArchiveFile(dir.write("lf.tvn", text)), records);
    expectSameRecords(checkArchiveFile(dir.write("crlf.tvn", toCrLf(text))), records);
    EXPECT_EQ(formatArchive({}), "0\n");
    const ArchiveCheck empty = checkArchiveFile(dir.write("none.tvn", "0\n"));
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.records.empty());
    EXPECT_EQ(empty.message(), "");
}

TEST(ArchiveFormat, CheckDecodesExactlyAsTheLineReaders)
{
    const std::vector<ArchiveRecord> records = sampleRecords();
    TempDir dir;
    fileModule module;
    testing::load(module, dir.write("a.tvn", toCrLf(formatArchive(records))));
    const ArchiveCheck check = checkArchive(module);
    ASSERT_TRUE(check.ok) << check.message();
    ASSERT_EQ(module.readNumberLine(1), 3);
    for (unsigned k = 1; k <= 3; ++k) {
        const ArchiveRecord& record = check.records[k - 1];
        EXPECT_EQ(module.readNumberLine(3 * k - 1), record.address);
        const long length = module.readNumberLine(3 * k);
        ASSERT_EQ(length, record.length);
        std::vector<unsigned char> data(static_cast<std::size_t>(length));
        module.readReversedHexLine(3 * k + 1, data.data(), static_cast<unsigned>(length));
        EXPECT_EQ(data, record.data) << k;
    }
}

TEST(ArchiveFormat, AcceptsWhatTheFormatAllows)
{
    const struct {
        const char* text;
        std::vector<unsigned char> data;
    } cases[] = {
        {"1\n16\n2\n4321", {0x12, 0x34}},                 // no final line end
        {"  1 records\n+16\n2 bytes\n4321junk\n", {0x12, 0x34}},  // atol's leading blanks, sign, trailing text
        {"1\n16\n2\nbAf0\nignored\n", {0x0F, 0xAB}},      // lower case, lines after the last record
        {"1\r\r\n16\n2\n4321\n", {0x12, 0x34}},           // a stray CR before the line end
        {"1\n16\n0\n", {}},                                // length 0 needs no data line
    };
    TempDir dir;
    for (const auto& c : cases) {
        const ArchiveCheck check = checkArchiveFile(dir.write("ok.tvn", c.text));
        ASSERT_TRUE(check.ok) << c.text << " -> " << check.message();
        ASSERT_EQ(check.records.size(), 1U) << c.text;
        EXPECT_EQ(check.records[0].address, 16) << c.text;
        EXPECT_EQ(check.records[0].data, c.data) << c.text;
    }
}

TEST(ArchiveFormat, RefusesMalformedArchivesNamingTheLine)
{
    static const char kBinary[] = "\x7f" "ELF\x02\x01\x01\0\0\0\n\x03\0\x3e\0";
    const std::string binary(kBinary, sizeof kBinary - 1);
    const struct {
        std::string text;
        int line;
        const char* problem;
    } cases[] = {
        {"-7\n", 1, "record count -7 is negative"},
        {"3\n16\n2\n3412\n", 1, "record count 3 is larger than the 1 record present"},
        {"abc\n16\n", 1, "record count line holds no decimal number"},
        {"\n", 1, "record count line holds no decimal number"},
        {binary, 1, "record count line holds no decimal number"},
        {"1\n12345678901234567890\n2\n3412\n", 2, "address line of record 1 is longer than 19 characters (has 20)"},
        {"1\n-1\n2\n3412\n", 2, "address -1 of record 1 is negative"},
        {"1\n16\n", 3, "length line of record 1 is missing"},
        {"1\n16\n\n3412\n", 3, "length line of record 1 holds no decimal number"},
        {"1\n16\n-2\n3412\n", 3, "length -2 of record 1 is negative"},
        {"1\n16777215\n2\n3412\n", 2,
         "record 1 of 2 bytes at address 0xFFFFFF runs past the 24-bit address space (0x1000000)"},
        {"1\n16\n2\n", 4, "data line of record 1 is missing"},
        {"1\n16\n4\n341\n", 4, "data line shorter than 2*L characters (needs 8, has 3)"},
        {"1\n16\n2\n341\r\r\n", 4, "data line shorter than 2*L characters (needs 4, has 3)"},
        {"1\n16\n2\n34G2\n", 4, "character 'G' at column 3 is not hexadecimal"},
        {"1\n16\n2\n34 12\n", 4, "character ' ' at column 3 is not hexadecimal"},
        {std::string("1\n16\n1\n1\0\n", 10), 4, "byte 0x00 at column 2 is not hexadecimal"},
        {"2\n16\n2\n3412\n20\n1\nZ1\n", 7, "character 'Z' at column 1 is not hexadecimal"},
        {"2\n16\n2\n3412\n20\n", 6, "length line of record 2 is missing"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const ArchiveCheck check = checkArchiveFile(dir.write("bad.tvn", c.text));
        EXPECT_FALSE(check.ok) << c.text;
        EXPECT_EQ(check.line, c.line) << c.text;
        EXPECT_EQ(check.problem, c.problem) << c.text;
        EXPECT_TRUE(check.records.empty()) << c.text;
        EXPECT_EQ(check.message(), "line " + std::to_string(c.line) + ": " + c.problem);
    }
}

TEST(ArchiveFormat, RecordsPastTheBufferAreRefusedOthersInLongFilesAccepted)
{
    TempDir dir;
    // The data line needs 16000 characters but the buffer ends 10 bytes into the file.
    const ArchiveCheck cut = checkArchiveFile(dir.write("cut.tvn", "1\n16\n8000\n" + std::string(16000, 'A') + "\n"));
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.message(), "line 4: record 1 lies past the 16000 bytes read (needs 16000, has 15990)");

    // Record 2 starts beyond the buffer, behind a data line of 1 MB.
    const ArchiveCheck beyond =
        checkArchiveFile(dir.write("beyond.tvn", "2\n16\n1\n21" + std::string(1 << 20, 'x') + "\n16\n1\n21\n"));
    EXPECT_FALSE(beyond.ok);
    EXPECT_EQ(beyond.message(), "line 5: record 2 lies past the 16000 bytes read");

    // A number line cut by the buffer's end could have gone on.
    const ArchiveCheck number = checkArchiveFile(
        dir.write("number.tvn", "2\n16\n1\n21" + std::string(16000 - 11, 'x') + "\n1" + std::string(100, '\n')));
    EXPECT_FALSE(number.ok);
    EXPECT_EQ(number.message(), "line 5: address line of record 2 lies past the 16000 bytes read");

    // Only the first 16000 bytes are ever read: a valid archive followed by 1 MB lines...
    const ArchiveCheck longLines = checkArchiveFile(
        dir.write("longlines.tvn", "1\n16\n2\n3412\n" + std::string(1 << 20, 'q') + "\n" + std::string(1 << 20, 'r')));
    EXPECT_TRUE(longLines.ok) << longLines.message();

    // ...or by 100 MB of zeros (sparse, so cheap to make).
    const std::string huge = dir.write("huge.tvn", "1\n16\n2\n4321\n");
    ASSERT_EQ(::truncate(huge.c_str(), 100L << 20), 0);
    const ArchiveCheck big = checkArchiveFile(huge);
    ASSERT_TRUE(big.ok) << big.message();
    EXPECT_EQ(big.records[0].data, (std::vector<unsigned char>{0x12, 0x34}));

    // A 1 MB line where the count should be.
    const ArchiveCheck wide = checkArchiveFile(dir.write("wide.tvn", std::string(1 << 20, '7') + "\n"));
    EXPECT_FALSE(wide.ok);
    EXPECT_EQ(wide.message(), "line 1: record count line is longer than 19 characters (has 16000)");
}

TEST(ArchiveFormat, FilesThatCannotBeReadAreRefusedOnLineZero)
{
    TempDir dir;
    const struct {
        std::string path;
        std::string problem;
    } cases[] = {
        {dir.path() + "/missing.tvn", "cannot open " + dir.path() + "/missing.tvn: No such file or directory"},
        {dir.path(), "cannot open " + dir.path() + ": Is a directory"},
        {dir.write("empty.tvn", ""), "file is empty: " + dir.path() + "/empty.tvn"},
    };
    for (const auto& c : cases) {
        const ArchiveCheck check = checkArchiveFile(c.path);
        EXPECT_FALSE(check.ok);
        EXPECT_EQ(check.line, 0);
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_EQ(check.message(), c.problem);
    }
    fileModule never;
    const ArchiveCheck unread = checkArchive(never);
    EXPECT_FALSE(unread.ok);
    EXPECT_EQ(unread.message(), "archive is empty");
}

}  // namespace
}  // namespace tolvan
