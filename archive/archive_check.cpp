#include "archive/archive_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tolvan {

namespace {

std::string pastBuffer()
{
    return "lies past the " + std::to_string(fileModule::kBufferSize) + " bytes read";
}

std::string recordsText(long n)
{
    return std::to_string(n) + (n == 1 ? " record" : " records");
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string hexText(long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

std::string describeChar(char c)
{
    if (c >= 0x20 && c < 0x7F) {
        return std::string("character '") + c + "'";
    }
    char text[16];
    std::snprintf(text, sizeof text, "byte 0x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    return text;
}

// One pass over the buffer builds the line table, so the check costs the
// size of the archive and not its size times its line count.
class Checker {
public:
    explicit Checker(const fileModule& archive) : archive_(archive)
    {
        for (int pos = 0; pos < archive.bytesRead;) {
            Line line;
            line.start = pos;
            const int end = archive.lineEnd(pos);
            line.terminated = end < archive.bytesRead;
            // A CR left before the LF belongs to the line end, not to the line.
            line.contentEnd = end;
            if (line.terminated && end > pos && archive.buffer[end - 1] == '\r') {
                --line.contentEnd;
            }
            lines_.push_back(line);
            pos = end + 1;
        }
    }

    ArchiveCheck run()
    {
        if (archive_.bytesRead <= 0) {
            fail(0, "archive is empty");
            return std::move(result_);
        }
        long count = 0;
        if (!number(1, "record count line", count)) {
            return std::move(result_);
        }
        if (count < 0) {
            fail(1, "record count " + std::to_string(count) + " is negative");
            return std::move(result_);
        }
        for (long k = 1; k <= count; ++k) {
            if (!record(k, count)) {
                result_.records.clear();
                result_.totalBytes = 0;
                return std::move(result_);
            }
        }
        result_.ok = true;
        return std::move(result_);
    }

private:
    struct Line {
        int start = 0;
        int contentEnd = 0;
        bool terminated = false;
    };

    bool fail(long line, std::string problem)
    {
        result_.line = static_cast<int>(line);
        result_.problem = std::move(problem);
        return false;
    }

    bool present(long lineNo) const { return lineNo <= static_cast<long>(lines_.size()); }
    const Line& at(long lineNo) const { return lines_[static_cast<std::size_t>(lineNo - 1)]; }
    // A line without its LF is whole only when the file ended there.
    bool complete(const Line& line) const { return line.terminated || !archive_.truncated; }

    bool number(long lineNo, const std::string& what, long& value)
    {
        if (!present(lineNo)) {
            return fail(lineNo, what + (archive_.truncated ? " " + pastBuffer() : " is missing"));
        }
        const Line& line = at(lineNo);
        const int length = line.contentEnd - line.start;
        if (length > kArchiveNumberLineMax) {
            return fail(lineNo, what + " is longer than " + std::to_string(kArchiveNumberLineMax)
                                    + " characters (has " + std::to_string(length) + ")");
        }
        if (!complete(line)) {
            return fail(lineNo, what + " " + pastBuffer());
        }
        bool digits = false;
        value = archive_.numberAt(line.start, &digits);
        if (!digits) {
            return fail(lineNo, what + " holds no decimal number");
        }
        return true;
    }

    bool record(long k, long count)
    {
        const std::string index = std::to_string(k);
        const long addressLine = 3 * k - 1;
        if (!present(addressLine)) {
            if (archive_.truncated) {
                return fail(addressLine, "record " + index + " " + pastBuffer());
            }
            return fail(1, "record count " + std::to_string(count) + " is larger than the "
                               + recordsText(k - 1) + " present");
        }
        ArchiveRecord rec;
        rec.addressLine = static_cast<int>(addressLine);
        if (!number(addressLine, "address line of record " + index, rec.address)
            || !number(addressLine + 1, "length line of record " + index, rec.length)) {
            return false;
        }
        if (rec.length < 0) {
            return fail(addressLine + 1, "length " + std::to_string(rec.length) + " of record " + index + " is negative");
        }
        if (rec.address < 0) {
            return fail(addressLine, "address " + std::to_string(rec.address) + " of record " + index + " is negative");
        }
        if (rec.address > kArchiveAddressSpace - rec.length) {
            return fail(addressLine, "record " + index + " of " + std::to_string(rec.length) + " bytes at address "
                                         + hexText(rec.address) + " runs past the 24-bit address space ("
                                         + hexText(kArchiveAddressSpace) + ")");
        }
        if (rec.length > 0 && !data(k, addressLine + 2, rec)) {
            return false;
        }
        result_.totalBytes += rec.length;
        result_.records.push_back(std::move(rec));
        return true;
    }

    bool data(long k, long dataLine, ArchiveRecord& rec)
    {
        const std::string index = std::to_string(k);
        if (!present(dataLine)) {
            return fail(dataLine, archive_.truncated ? "record " + index + " " + pastBuffer()
                                                     : "data line of record " + index + " is missing");
        }
        const Line& line = at(dataLine);
        const long needs = 2 * rec.length;
        const long has = line.contentEnd - line.start;
        const std::string counts = "(needs " + std::to_string(needs) + ", has " + std::to_string(has) + ")";
        if (has < needs) {
            if (!complete(line)) {
                return fail(dataLine, "record " + index + " " + pastBuffer() + " " + counts);
            }
            return fail(dataLine, "data line shorter than 2*L characters " + counts);
        }
        for (long i = 0; i < needs; ++i) {
            const char c = archive_.buffer[line.start + i];
            if (!isHexDigit(c)) {
                return fail(dataLine, describeChar(c) + " at column " + std::to_string(i + 1) + " is not hexadecimal");
            }
        }
        rec.data.resize(static_cast<std::size_t>(rec.length));
        archive_.decodeReversedHex(line.start, rec.data.data(), static_cast<unsigned>(rec.length));
        return true;
    }

    const fileModule& archive_;
    std::vector<Line> lines_;
    ArchiveCheck result_;
};

}  // namespace

std::string ArchiveCheck::message() const
{
    if (ok) {
        return {};
    }
    if (line > 0) {
        return "line " + std::to_string(line) + ": " + problem;
    }
    return problem;
}

ArchiveCheck checkArchive(const fileModule& archive)
{
    return Checker(archive).run();
}

ArchiveCheck checkArchiveFile(const std::string& path)
{
    ArchiveCheck refused;
    // Heap: the buffer is too large to sit comfortably on every caller's stack.
    auto archive = std::make_unique<fileModule>();
    if (!archive->openForRead(path.c_str())) {
        refused.problem = "cannot open " + path + ": " + std::strerror(errno);
        return refused;
    }
    archive->readAll();
    const int readError = errno;
    archive->closeFile();
    if (archive->readFailed) {
        refused.problem = "cannot read " + path + ": " + std::strerror(readError);
        return refused;
    }
    if (archive->bytesRead == 0) {
        refused.problem = "file is empty: " + path;
        return refused;
    }
    return checkArchive(*archive);
}

std::string formatArchive(const std::vector<ArchiveRecord>& records)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = std::to_string(records.size()) + "\n";
    for (const ArchiveRecord& rec : records) {
        text += std::to_string(rec.address) + "\n" + std::to_string(rec.data.size()) + "\n";
        // Backwards: the last byte's low digit comes first.
        for (auto it = rec.data.rbegin(); it != rec.data.rend(); ++it) {
            text += kDigits[*it & 0x0F];
            text += kDigits[*it >> 4];
        }
        text += "\n";
    }
    return text;
}

}  // namespace tolvan
