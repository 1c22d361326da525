#include "shell/command_line.h"

#include <cctype>
#include <cstring>

#include "shell/version.h"

namespace tolvan {

namespace {

constexpr std::string_view kUnregister = "unregister";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool optionSelectsUnregister(std::string_view token)
{
    if (token.empty() || (token[0] != '-' && token[0] != '/'))
        return false;
    std::string_view text = token.substr(1);
    const std::size_t end = text.find_first_of("=/ \t");
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    if (text.size() > kUnregister.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != kUnregister[i])
            return false;
    }
    return true;
}

}  // namespace

bool selectsUnregister(std::string_view commandLine)
{
    std::size_t pos = 0;
    while (pos < commandLine.size()) {
        while (pos < commandLine.size() && isBlank(commandLine[pos]))
            ++pos;
        std::size_t end = pos;
        while (end < commandLine.size() && !isBlank(commandLine[end]))
            ++end;
        if (end > pos && optionSelectsUnregister(commandLine.substr(pos, end - pos)))
            return true;
        pos = end;
    }
    return false;
}

bool selectsUnregister(const std::vector<std::string>& arguments)
{
    for (const std::string& argument : arguments) {
        if (selectsUnregister(std::string_view(argument)))
            return true;
    }
    return false;
}

Qt::WindowStates startWindowState(Qt::WindowStates requested)
{
    if (requested.testFlag(Qt::WindowMinimized))
        return Qt::WindowMinimized;
    return Qt::WindowNoState;
}

bool asksForVersion(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            return true;
    }
    return false;
}

std::string versionText()
{
    std::string text;
    text += std::string(version::kProductLine) + "\n";
    text += std::string(version::kVersionLine) + "\n";
    text += std::string(version::kDateLine) + "\n";
    text += std::string(version::kInternalName) + " " + version::kProductVersion + " (file version "
        + version::kFileVersion + ")\n";
    text += std::string(version::kCopyright) + "\n";
    return text;
}

}  // namespace tolvan
