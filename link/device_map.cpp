#include "link/device_map.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "archive/file_module.h"

namespace tolvan {

namespace {

std::string trimmed(const std::string& text)
{
    // '\r' too, so a file written on another system still matches.
    const char* blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string fromPortsFile(const std::string& key)
{
    const std::filesystem::path file = std::filesystem::path(workingDirectory()) / "ports.conf";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string content = trimmed(line);
        if (content.empty() || content.front() == '#')
            continue;
        const std::size_t eq = content.find('=');
        if (eq == std::string::npos || trimmed(content.substr(0, eq)) != key)
            continue;
        std::string path = trimmed(content.substr(eq + 1));
        if (!path.empty())
            return path;
    }
    return {};
}

}  // namespace

std::string comDevicePath(int portNumber)
{
    const std::string number = std::to_string(portNumber);
    if (const char* fromEnv = std::getenv(("TOLVAN_COM" + number).c_str()); fromEnv && *fromEnv)
        return fromEnv;
    if (std::string path = fromPortsFile("COM" + number); !path.empty())
        return path;
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace tolvan
