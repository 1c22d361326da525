#include "archive/file_module.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvan {

std::string& workingDirectory()
{
    static std::string directory;
    return directory;
}

std::string comIniPath()
{
    const std::string& directory = workingDirectory();
    return (directory.empty() ? std::string(".") : directory) + "/com.ini";
}

fileModule::~fileModule()
{
    closeFile();
}

bool fileModule::openForRead(const char* path)
{
    closeFile();
    // Non-blocking open so that a FIFO without a writer cannot hang us; a
    // directory opens on Linux but cannot be read, so it is refused here.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    file = ::fdopen(fd, "r");
    if (file == nullptr) {
        ::close(fd);
        return false;
    }
    return true;
}

bool fileModule::openForWrite(const char* path)
{
    closeFile();
    file = std::fopen(path, "w");
    return file != nullptr;
}

bool fileModule::readAll()
{
    bytesRead = 0;
    itemsRead = 0;
    truncated = false;
    readFailed = false;
    if (file == nullptr) {
        readFailed = true;
        return false;
    }
    // Text mode as the archives were written: a CR-LF pair is one LF, and it
    // counts once against the buffer. A lone CR stays.
    auto nextChar = [this]() {
        int c = std::getc(file);
        if (c == '\r') {
            const int after = std::getc(file);
            if (after == '\n') {
                c = '\n';
            } else if (after != EOF) {
                std::ungetc(after, file);
            }
        }
        return c;
    };
    int c = 0;
    while (bytesRead < kBufferSize && (c = nextChar()) != EOF) {
        buffer[bytesRead++] = static_cast<char>(c);
    }
    if (std::ferror(file)) {
        readFailed = true;
    } else if (bytesRead == kBufferSize) {
        truncated = std::getc(file) != EOF;
    }
    itemsRead = bytesRead == kBufferSize ? 1 : 0;
    return itemsRead != 0;
}

int fileModule::closeFile()
{
    if (file == nullptr) {
        return EOF;
    }
    const int result = std::fclose(file);
    file = nullptr;
    return result;
}

int fileModule::lineStart(unsigned n) const
{
    int pos = 0;
    for (unsigned line = 1; line < n; ++line) {
        pos = lineEnd(pos);
        if (pos >= bytesRead) {
            return bytesRead;
        }
        ++pos;
    }
    return pos < bytesRead ? pos : bytesRead;
}

int fileModule::lineEnd(int pos) const
{
    while (pos < bytesRead && buffer[pos] != '\n') {
        ++pos;
    }
    return pos < bytesRead ? pos : bytesRead;
}

long fileModule::numberAt(int pos, bool* hadDigits) const
{
    const int fieldEnd = pos + (kNumberFieldSize - 1);
    int end = lineEnd(pos);
    if (end > fieldEnd) {
        end = fieldEnd;
    }
    auto isBlank = [](char c) {
        return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
    };
    while (pos < end && isBlank(buffer[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < end && (buffer[pos] == '+' || buffer[pos] == '-')) {
        negative = buffer[pos] == '-';
        ++pos;
    }
    bool digits = false;
    long value = 0;
    for (; pos < end && buffer[pos] >= '0' && buffer[pos] <= '9'; ++pos) {
        digits = true;
        const long digit = buffer[pos] - '0';
        // Accumulate towards the sign so that LONG_MIN itself is reachable.
        if (negative) {
            value = value < (LONG_MIN + digit) / 10 ? LONG_MIN : value * 10 - digit;
        } else {
            value = value > (LONG_MAX - digit) / 10 ? LONG_MAX : value * 10 + digit;
        }
    }
    if (hadDigits != nullptr) {
        *hadDigits = digits;
    }
    return value;
}

void fileModule::decodeReversedHex(int pos, unsigned char* destination, unsigned count) const
{
    // Character i of the line, or the digit 0 past the data read.
    auto at = [this, pos](unsigned long long i) {
        const unsigned long long offset = static_cast<unsigned long long>(pos) + i;
        return offset < static_cast<unsigned long long>(bytesRead) ? buffer[offset] : '0';
    };
    const unsigned long long last = 2ULL * count;
    for (unsigned k = 0; k < count; ++k) {
        const char pair[2] = {at(last - 1 - 2ULL * k), at(last - 2 - 2ULL * k)};
        destination[k] = static_cast<unsigned char>(hexPairToByte(pair));
    }
}

void fileModule::seekLine(unsigned n)
{
    linePos = lineStart(n);
}

long fileModule::readNumberLine(unsigned n)
{
    seekLine(n);
    const long value = numberAt(linePos);
    linePos = lineEnd(linePos);
    return value;
}

void fileModule::readReversedHexLine(unsigned n, unsigned char* destination, unsigned count)
{
    seekLine(n);
    decodeReversedHex(linePos, destination, count);
}

void fileModule::extractField(unsigned f, unsigned m, char* destination)
{
    fieldPos = 0;
    fieldIndex = 0;
    valueLength = 0;
    for (unsigned pass = 1; pass <= f; ++pass) {
        while (fieldPos < bytesRead && buffer[fieldPos] != ':') {
            ++fieldPos;
        }
        if (fieldPos >= bytesRead) {
            fieldPos = bytesRead;
            return;
        }
        ++fieldPos;
        while (fieldPos < bytesRead && buffer[fieldPos] == ' ') {
            ++fieldPos;
        }
        fieldIndex = static_cast<int>(pass);
    }
    while (static_cast<unsigned>(valueLength) < m && fieldPos + valueLength < bytesRead
           && buffer[fieldPos + valueLength] != '\n') {
        destination[valueLength] = buffer[fieldPos + valueLength];
        ++valueLength;
    }
}

void fileModule::storeWorkingDirectory()
{
    // glibc sizes the buffer itself, so no length limit applies here.
    char* current = ::getcwd(nullptr, 0);
    if (current != nullptr) {
        workingDirectory() = current;
        std::free(current);
    }
}

}  // namespace tolvan
