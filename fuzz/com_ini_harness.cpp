#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "archive/file_module.h"
#include "fuzz/harness.h"
#include "link/com_ini.h"

namespace tolvan::fuzz {

namespace {

// One scratch directory for the whole process, removed when it ends.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        path = (std::filesystem::temp_directory_path() / "tolvan-fuzz-ini-XXXXXX").string();
        if (::mkdtemp(path.data()) == nullptr)
            std::abort();
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string path;
};

const std::string& scratchDirectory()
{
    static const ScratchDirectory directory;
    return directory.path;
}

// The port digit as the file defines it: the first character after the first
// colon and its blanks, counted in the text as read (CR-LF is one LF, only
// the first kBufferSize characters); 0 unless it is a digit.
int expectedPort(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i < size && text.size() < static_cast<std::size_t>(fileModule::kBufferSize); ++i) {
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
            continue;
        text += static_cast<char>(data[i]);
    }
    std::size_t pos = text.find(':');
    if (pos == std::string::npos)
        return 0;
    ++pos;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
        return 0;
    return text[pos] - '0';
}

// Points the shared working directory at the scratch directory for one run.
class WorkingDirectory {
public:
    WorkingDirectory() : saved_(workingDirectory()), savedPort_(lastPortId()) { workingDirectory() = scratchDirectory(); }
    ~WorkingDirectory()
    {
        workingDirectory() = saved_;
        lastPortId() = savedPort_;
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::string saved_;
    int savedPort_;
};

}  // namespace

Outcome runComIni(const std::uint8_t* data, std::size_t size)
{
    WorkingDirectory scope;
    {
        std::ofstream out(comIniPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out)
            return {"", "cannot write " + comIniPath()};
    }
    const int expected = expectedPort(data, size);

    auto settings = std::make_unique<fileModule>();
    const int port = settings->readComPortId();
    if (port != expected)
        return {"", "readComPortId gave " + std::to_string(port) + ", the file says " + std::to_string(expected)};
    if (settings->file != nullptr)
        return {"", "readComPortId left the file open"};

    lastPortId() = -2;
    auto setup = std::make_unique<RF_CommunicationSetup>();
    if (setup->portId != expected || lastPortId() != expected)
        return {"", "the settings record took another port"};
    return {"port " + std::to_string(port), {}};
}

}  // namespace tolvan::fuzz
