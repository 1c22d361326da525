#pragma once
// Hexadecimal text to numbers, as the archive format writes its digits.

namespace tolvan {

class convertUtil {
public:
    // Value of the first length characters as hexadecimal; a character that is
    // not 0-9, A-F or a-f counts as the digit 0. Beyond 8 digits the value
    // wraps modulo 2^32 (only pairs are ever decoded).
    int hexToNumber(const char* text, int length);
};

// Value 0..255 of the two characters at text read as hexadecimal; only those
// two characters are read.
int hexPairToByte(const char* text);

}  // namespace tolvan
