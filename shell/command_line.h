#pragma once
// Start-up rules that need no window: the "unregister" option, the window
// state the frame starts in, and --version.

#include <string>
#include <string_view>
#include <vector>

#include <Qt>

namespace tolvan {

// True when an option of the command line selects unregistering: a token
// starting with '-' or '/' whose text (up to '=', '/', blank or tab) is a
// case-blind prefix of "unregister". A lone "-" counts; "/unregistered" and
// plain file names do not. Arguments are split again at blanks and tabs, as
// one command line would be.
bool selectsUnregister(const std::vector<std::string>& arguments);
bool selectsUnregister(std::string_view commandLine);

// The frame never starts maximised, full screen or hidden; only a minimised
// start is kept.
Qt::WindowStates startWindowState(Qt::WindowStates requested);

// "--version" anywhere among the arguments (argv[0] excluded).
bool asksForVersion(int argc, const char* const* argv);
std::string versionText();

}  // namespace tolvan
