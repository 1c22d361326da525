#pragma once
// Every text of the main frame: caption, menu, toolbar and the hint string table.

#include <array>
#include <utility>

#include "shell/command_ids.h"

namespace tolvan::frame_texts {

// The words and sixteen blanks: application name and frame caption alike.
inline constexpr const char* kAppName = "Tolvan Tool                ";

inline constexpr const char* kOperations = "&Operations";
inline constexpr const char* kLoadArchive = "&Load Archive";
inline constexpr const char* kProgramCodeplug = "&Program Radio Codeplug";
inline constexpr const char* kTempCompRead = "Temp Comp Data &Read";
inline constexpr const char* kTempCompWrite = "Temp Comp Data &Write";
inline constexpr const char* kProgramSerialNo = "&S/N No. programming";
inline constexpr const char* kReadSerialNo = "Rea&d S/N No.";
inline constexpr const char* kExit = "E&xit\tAlt+F4";
inline constexpr const char* kCommunication = "&Communication Settings";
inline constexpr const char* kComPortSettings = "&COM Port Settings";
inline constexpr const char* kHelp = "&Help";
inline constexpr const char* kAbout = "&About...";
inline constexpr const char* kToolbar = "Toolbar";

// The string table of hints, shown in the status bar.
inline constexpr std::array<std::pair<int, const char*>, 15> kHints = {{
    {cmd::kOperationsMenu, "Perform radio related operations"},
    {cmd::kLoadArchive, "Loads Tolvan Archive Files (*.TVN)"},
    {cmd::kCommunicationMenu, "Edit current communication settings"},
    {cmd::kComPortSettings, "Select communications port"},
    {cmd::kProgramSerialNo, "Program radio serial no."},
    {cmd::kTempCompRead, "Read radio Temp Comp data"},
    {cmd::kTempCompWrite, "Write radio Temp Comp data"},
    {cmd::kReadSerialNo, "Reads radio serial no."},
    {cmd::kProgramCodeplug, "Program radio codeplug (with *.TVN) files"},
    {cmd::kHelpMenu, "Access online help"},
    {cmd::kHelpContents, "Help table of contents"},
    {cmd::kHelpUsing, "Help on using online Help"},
    {cmd::kAuthoring, "Access authoring information regarding the Tolvan Tool"},
    {cmd::kHelpAbout, "About the Tolvan Tool application"},
    {cmd::kExit, "Exits the  Tolvan Tool application "},
}};

constexpr const char* hint(int id)
{
    for (const auto& [key, text] : kHints)
        if (key == id)
            return text;
    return "";
}

}  // namespace tolvan::frame_texts
