#pragma once
// Texts of the command-line tool that are its own (the flows' texts live in
// service/texts.h).

namespace tolvan::cli {

inline constexpr const char* kUsage =
    "usage: tolvan [--device PATH] [--trace FILE] [--quiet] COMMAND\n"
    "\n"
    "Service tool for two-way radios: programs codeplug archives (*.tvn), reads and\n"
    "writes the Temp Comp value and the serial number, and chooses the radio's port.\n"
    "\n"
    "commands:\n"
    "  program ARCHIVE [--verify]   write the archive's records, reset the radio\n"
    "  verify ARCHIVE               read the records' memory back and compare\n"
    "  backup ARCHIVE OUTPUT        read the memory that ARCHIVE's records cover into a new archive\n"
    "  check ARCHIVE                check an archive offline\n"
    "  serial read                  read the radio's serial number\n"
    "  serial write TEXT            program a new ten-character serial number\n"
    "  tempcomp read                read the Temp Comp value (hexadecimal)\n"
    "  tempcomp write HEX           write the Temp Comp value (eight hexadecimal digits)\n"
    "  port                         show the configured COM port (com.ini) and its device\n"
    "  port set N                   configure COM port N (1 to 9) in com.ini\n"
    "  port list                    show COM 1 to 9, their devices, and whether they can be opened\n"
    "\n"
    "options:\n"
    "  --device PATH   use this serial device instead of the COM port of com.ini\n"
    "  --trace FILE    write every byte on the line, time-stamped, to FILE\n"
    "  --quiet         no progress bar\n"
    "  --help          this text\n"
    "  --version       version information\n"
    "\n"
    "COM N is the device named by the environment variable TOLVAN_COM<N>, else by a line\n"
    "COM<N>=<path> in ports.conf beside com.ini, else /dev/ttyS<N-1>.\n"
    "\n"
    "exit status: 0 success; 1 the radio or the line failed during the exchange;\n"
    "2 nothing was sent to the radio (bad usage, bad input, port cannot be opened).\n";

inline constexpr const char* kVersion = "tolvan (Tolvan Tool) R01.04.00";

inline constexpr const char* kCausePrefix = "  cause: ";
inline constexpr const char* kPermissionAdvice =
    "  advice: add the user to that group (sudo usermod -aG %s %s), then log in again";
inline constexpr const char* kBadUsage = "tolvan: %s (see tolvan --help)";
inline constexpr const char* kArchiveOk = "%s: %zu records, %ld bytes: archive is valid";
inline constexpr const char* kArchiveBad = "%s: not a valid Tolvan Archive File";
inline constexpr const char* kOutputExists = "%s already exists; choose another name";
inline constexpr const char* kOutputWriteFailed = "Cannot write %s: %s";
inline constexpr const char* kPortShow = "COM %d: %s";
inline constexpr const char* kPortNotConfigured = "COM port has not yet been configured (no com.ini in %s)";
inline constexpr const char* kPortSet = "COM Port %d currently selected";
inline constexpr const char* kPortSetFailed = "Could not initiate COM Port";
inline constexpr const char* kPortNumberBad = "port number must be 1 to 9";
inline constexpr const char* kTraceOpenFailed = "Cannot open trace file %s";
// A port that cannot be opened because com.ini names none: say so, not just the device tried.
inline constexpr const char* kComIniMissing = "there is no com.ini in %s";
inline constexpr const char* kComIniUnreadable = "com.ini in %s cannot be read";
inline constexpr const char* kComIniNoPort = "com.ini in %s names no COM port 1 to 9";
inline constexpr const char* kComIniAdvice = "  advice: choose the radio's port with: tolvan port set N";

}  // namespace tolvan::cli
