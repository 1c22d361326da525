#pragma once
// Every text the command flows show, in the system's own words.

namespace tolvan::texts {

// Captions.
inline constexpr const char* kNote = "NOTE";
inline constexpr const char* kError = "ERROR";
inline constexpr const char* kEntryError = "Entry Error";
inline constexpr const char* kWarning = " WARNING";

// Start-up and archives.
inline constexpr const char* kComNotConfigured = "COM port has not yet been configured. Please configure COM port now !!";
inline constexpr const char* kBitmapDirectory = "Resource bitmap not found!!";
inline constexpr const char* kArchiveLoaded = "Tolvan Archive File has been successfully loaded!!";
// Ours: a file that is no archive is refused, naming the problem beneath.
inline constexpr const char* kArchiveRefused = "Tolvan Archive File cannot be loaded !!";

// Program Radio Codeplug.
inline constexpr const char* kProgressTitle = "Programming radio codeplug.... Please wait.... ";
inline constexpr const char* kProgressDone = "% done";
inline constexpr const char* kProgrammed = "Radio has been successfully programmed !!";
inline constexpr const char* kCannotProgram = "Cannot program radio codeplug !!";
inline constexpr const char* kCodeplugStatus = "New codeplug programmed into radio";

// Read S/N No.
inline constexpr const char* kSerialStatusFormat = "Radio Serial No. :%s";
inline constexpr const char* kCannotReadSerial = "Unable to read radio serial no. !!";

// Temp Comp.
inline constexpr const char* kTempCompNotRead = "Temp Comp data could not be read !!";
inline constexpr const char* kTempCompLength = "Length of Temp Comp data must be exactly 4 bytes";
// Ours: the window's filter refuses such characters as they are typed.
inline constexpr const char* kTempCompDigits = "Temp Comp data must be hexadecimal digits (0-9, A-F, a-f)";
inline constexpr const char* kTempCompWritten = "Temp Comp data has been written in successfully !!";
inline constexpr const char* kTempCompWriteError = "Error writing in Temp Comp data !!";

// Serial number programming.
inline constexpr const char* kSerialLength = "Serial No. must be exactly 10 characters";
inline constexpr const char* kPortUnavailable = "COM Port is currently in use or has not been configured";
inline constexpr const char* kSerialProgrammed = "Serial No. has been successfully programmed !!";
inline constexpr const char* kRadioCommunicationError = "Radio Communication Error!!";
inline constexpr const char* kSerialMayHaveChanged = "Serial No. may have been changed. Read radio again";

// Ours: verify and backup (command line only).
inline constexpr const char* kVerified = "Radio memory matches the archive !!";
inline constexpr const char* kVerifyDiffers = "Radio memory differs from the archive !!";
inline constexpr const char* kCannotVerify = "Cannot verify radio codeplug !!";
inline constexpr const char* kBackedUp = "Radio memory has been saved to the archive !!";
inline constexpr const char* kCannotBackUp = "Cannot back up radio codeplug !!";

}  // namespace tolvan::texts
