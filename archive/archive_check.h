#pragma once
// Whole-archive check run before an archive is accepted for loading or
// programming, and the writer that produces the same format for backups.

#include <string>
#include <vector>

#include "archive/file_module.h"

namespace tolvan {

// The radio's memory is addressed with 24 bits.
inline constexpr long kArchiveAddressSpace = 0x1000000;
// Characters a number line may hold before its line end.
inline constexpr int kArchiveNumberLineMax = fileModule::kNumberFieldSize - 1;

struct ArchiveRecord {
    long address = 0;
    long length = 0;
    std::vector<unsigned char> data;
    int addressLine = 0;
};

struct ArchiveCheck {
    bool ok = false;
    // Line the problem is on; 0 when it concerns the file as a whole.
    int line = 0;
    std::string problem;
    // Every record, decoded, when ok.
    std::vector<ArchiveRecord> records;
    // Sum of the records' lengths.
    long totalBytes = 0;

    // "line 7: data line shorter than ..." or the bare problem for line 0;
    // empty when ok. Plain ASCII.
    std::string message() const;
};

// Checks the archive in a loaded buffer and decodes it exactly as the
// line readers of fileModule do.
ArchiveCheck checkArchive(const fileModule& archive);

// Opens, reads and checks a file; one that cannot be opened or read, a
// directory and an empty file are refused on line 0.
ArchiveCheck checkArchiveFile(const std::string& path);

// The archive text of records: count line, then per record the address, the
// length (the size of data; length is not consulted) and the data written
// backwards in upper-case hexadecimal, each line ended by LF. Archives longer
// than fileModule::kBufferSize cannot be read back.
std::string formatArchive(const std::vector<ArchiveRecord>& records);

}  // namespace tolvan
