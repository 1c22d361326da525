#pragma once
// Whole-file text buffer for the codeplug archives and com.ini, with access by
// line number and by field number. Nothing here ever looks past the bytes
// that the last readAll took from the current file.

#include <cstdio>
#include <string>

#include "archive/convert_util.h"

namespace tolvan {

// The directory that was current at start-up: com.ini is looked for there
// even after a file dialog has moved the current directory. Any length.
std::string& workingDirectory();

// workingDirectory() + "/com.ini"; "./com.ini" while no directory was stored.
std::string comIniPath();

class fileModule {
public:
    static constexpr int kBufferSize = 16000;
    // A number line is read through a field of this size, terminator included,
    // so at most kNumberFieldSize - 1 characters of it count.
    static constexpr int kNumberFieldSize = 20;

    fileModule() = default;
    // Closes a stream still open, so no path leaks it.
    ~fileModule();
    // Owns a stream: copies would close it twice.
    fileModule(const fileModule&) = delete;
    fileModule& operator=(const fileModule&) = delete;

    // Text mode; false when the file cannot be opened or is a directory.
    bool openForRead(const char* path);
    // Creates or empties the file; false when that is refused.
    bool openForWrite(const char* path);
    // Up to kBufferSize bytes into buffer, CR-LF counted and stored as one LF.
    // True only when the buffer was filled; a shorter file is still read.
    bool readAll();
    // fclose's result; EOF when nothing was open.
    int closeFile();

    // Line numbers count from 1; 0 and 1 both mean the first line. A line
    // beyond the data puts linePos at bytesRead.
    void seekLine(unsigned n);
    // atol of the line's first kNumberFieldSize - 1 characters; 0 for a missing line.
    long readNumberLine(unsigned n);
    // Byte k of destination from the line's first 2*count characters read
    // backwards; positions past the data read as the digit 0.
    void readReversedHexLine(unsigned n, unsigned char* destination, unsigned count);
    // Passes f colons (and the blanks after each), then copies up to m
    // characters before the next LF; valueLength is 0 when there are fewer
    // than f colons. destination is not terminated.
    void extractField(unsigned f, unsigned m, char* destination);
    // Captures the current directory into workingDirectory(); on failure the
    // stored value is left as it was.
    static void storeWorkingDirectory();

    // Port digit from com.ini; -1 when it cannot be opened or read.
    int readComPortId();
    // Writes com.ini for portId; false when it cannot be created or written.
    bool writeComPortId(int portId);

    // Const views of the buffer, shared by the operations above and the
    // archive check so both decode alike.
    // Offset of line n's first character, or bytesRead when there is no such line.
    int lineStart(unsigned n) const;
    // Offset of the LF that ends the line holding pos, or bytesRead.
    int lineEnd(int pos) const;
    // atol rules on the line at pos, at most kNumberFieldSize - 1 characters;
    // hadDigits tells whether any digit was taken. Saturates instead of overflowing.
    long numberAt(int pos, bool* hadDigits = nullptr) const;
    void decodeReversedHex(int pos, unsigned char* destination, unsigned count) const;

    char buffer[kBufferSize]{};
    std::FILE* file = nullptr;
    int fieldIndex = 0;
    char fieldValue = 0;
    int fieldPos = 0;
    int itemsRead = 0;
    int valueLength = 0;
    int linePos = 0;
    // Bytes the last readAll stored; every search ends here, so bytes left
    // behind by an earlier, longer file are never seen.
    int bytesRead = 0;
    // The file went on past the buffer when it was read.
    bool truncated = false;
    // The last readAll hit a read error rather than the end of the file.
    bool readFailed = false;
};

}  // namespace tolvan
