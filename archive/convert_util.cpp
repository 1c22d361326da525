#include "archive/convert_util.h"

namespace tolvan {

namespace {

unsigned digitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    return 0;
}

}  // namespace

int convertUtil::hexToNumber(const char* text, int length)
{
    if (length <= 0) {
        return 0;
    }
    int zeros = 0;
    while (zeros < length && text[zeros] == '0') {
        ++zeros;
    }
    // Unsigned so that more than eight digits wrap instead of overflowing.
    unsigned total = 0;
    int exponent = length - zeros - 1;
    for (int i = zeros; i < length; ++i, --exponent) {
        unsigned power = 1;
        for (int e = 0; e < exponent; ++e) {
            power *= 16U;
        }
        total += digitValue(text[i]) * power;
    }
    return static_cast<int>(total);
}

int hexPairToByte(const char* text)
{
    const char pair[2] = {text[0], text[1]};
    return convertUtil().hexToNumber(pair, 2);
}

}  // namespace tolvan
