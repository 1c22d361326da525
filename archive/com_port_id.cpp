#include "archive/file_module.h"

namespace tolvan {

// Only the first character after the first colon (and its blanks) counts.
// No colon in the bytes read, a colon followed by a line end or by nothing,
// and an empty file all find no value and give 0, like any non-digit: the
// port that cannot be opened, never a guess from bytes the file did not hold.
int fileModule::readComPortId()
{
    const std::string path = comIniPath();
    if (!openForRead(path.c_str())) {
        return -1;
    }
    readAll();
    const bool failed = readFailed;
    fieldValue = 0;
    if (!failed) {
        extractField(1, 1, &fieldValue);
    }
    closeFile();
    if (failed) {
        return -1;
    }
    if (valueLength == 0 || fieldValue < '0' || fieldValue > '9') {
        return 0;
    }
    return fieldValue - '0';
}

bool fileModule::writeComPortId(int portId)
{
    const std::string path = comIniPath();
    if (!openForWrite(path.c_str())) {
        return false;
    }
    const bool written = std::fprintf(file, "COM Port Id :%d\n ", portId) > 0;
    const bool closed = closeFile() == 0;
    return written && closed;
}

}  // namespace tolvan
