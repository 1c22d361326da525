#pragma once
// What the About box shows and what --version prints. The About box's
// version line and the file version are independent, as they always were.

namespace tolvan::version {

inline constexpr const char* kAboutTitle = "About Tolvan Tool for Professional Radios";
inline constexpr const char* kProductLine = "Tolvan Tool for Professional Radios";
inline constexpr const char* kVersionLine = "Version R01.04.00";
inline constexpr const char* kDateLine = "Date: 04  Sep  2007";
inline constexpr const char* kOk = "OK";

inline constexpr const char* kFileVersion = "1.0.0.0";
inline constexpr const char* kProductVersion = "1.0";
inline constexpr const char* kInternalName = "Tolvan_ide";
inline constexpr const char* kCopyright = "Copyright (C) 1997 the authors. All rights reserved.";

}  // namespace tolvan::version
