#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/archive_check.h"
#include "archive/file_module.h"
#include "fuzz/harness.h"

namespace tolvan::fuzz {

namespace {

// Records the legacy line readers are compared on; each access rescans the
// buffer from its start, so all of them would make a run quadratic.
constexpr std::size_t kComparedRecords = 64;

// The bytes go through readAll, as a file's would: CR-LF pairs become LF and
// only the first kBufferSize bytes count.
void load(fileModule& module, const void* data, std::size_t size)
{
    module.file = size > 0 ? ::fmemopen(const_cast<void*>(data), size, "r") : nullptr;
    if (module.file == nullptr) {
        module.bytesRead = 0;
        module.truncated = false;
        module.readFailed = false;
        return;
    }
    module.readAll();
    module.closeFile();
}

bool sameRecords(const std::vector<ArchiveRecord>& a, const std::vector<ArchiveRecord>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].address != b[i].address || a[i].length != b[i].length || a[i].data != b[i].data)
            return false;
    }
    return true;
}

std::string compareWithLineReaders(fileModule& module, const ArchiveCheck& check)
{
    if (module.readNumberLine(1) != static_cast<long>(check.records.size()))
        return "record count differs from readNumberLine(1)";
    const std::size_t compared = std::min(check.records.size(), kComparedRecords);
    for (std::size_t i = 0; i < compared; ++i) {
        const ArchiveRecord& rec = check.records[i];
        const unsigned k = static_cast<unsigned>(i + 1);
        if (module.readNumberLine(3 * k - 1) != rec.address || module.readNumberLine(3 * k) != rec.length)
            return "record " + std::to_string(k) + " reads differently through readNumberLine";
        std::vector<unsigned char> bytes(rec.data.size() + 1);
        module.readReversedHexLine(3 * k + 1, bytes.data(), static_cast<unsigned>(rec.data.size()));
        bytes.pop_back();
        if (bytes != rec.data)
            return "record " + std::to_string(k) + " decodes differently through readReversedHexLine";
    }
    return {};
}

}  // namespace

Outcome runArchive(const std::uint8_t* data, std::size_t size)
{
    // Heap: a fileModule holds the whole 16000-byte buffer.
    auto module = std::make_unique<fileModule>();
    load(*module, data, size);

    // The line readers on anything: they must stay inside the bytes read.
    for (unsigned n = 0; n < 6; ++n)
        (void)module->readNumberLine(n);
    const unsigned count = size > 0 ? data[0] : 0;
    std::vector<unsigned char> bytes(count + 1);
    module->readReversedHexLine(4, bytes.data(), count);
    char field[16];
    module->extractField(1 + count % 3, sizeof field, field);

    const ArchiveCheck check = checkArchive(*module);
    if (!check.ok) {
        if (check.message().empty())
            return {"", "refused without a message"};
        if (!check.records.empty() || check.totalBytes != 0)
            return {"", "refused but kept records"};
        return {"refused: " + check.message(), {}};
    }

    long total = 0;
    for (const ArchiveRecord& rec : check.records) {
        if (rec.length != static_cast<long>(rec.data.size()))
            return {"", "record length differs from its data"};
        if (rec.address < 0 || rec.address + rec.length > kArchiveAddressSpace)
            return {"", "accepted a record outside the address space"};
        total += rec.length;
    }
    if (total != check.totalBytes)
        return {"", "totalBytes is not the sum of the lengths"};
    if (std::string problem = compareWithLineReaders(*module, check); !problem.empty())
        return {"", problem};

    // Written out and read again: the same records, and the same text.
    const std::string text = formatArchive(check.records);
    if (text.size() > static_cast<std::size_t>(fileModule::kBufferSize))
        return {"accepted, too long to read back", {}};
    auto again = std::make_unique<fileModule>();
    load(*again, text.data(), text.size());
    const ArchiveCheck reread = checkArchive(*again);
    if (!reread.ok)
        return {"", "formatted archive refused: " + reread.message()};
    if (!sameRecords(check.records, reread.records))
        return {"", "formatted archive decodes to other records"};
    if (formatArchive(reread.records) != text)
        return {"", "formatting is not stable"};
    return {"accepted " + std::to_string(check.records.size()), {}};
}

}  // namespace tolvan::fuzz
