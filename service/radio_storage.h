#pragma once
// Table of radio values and the flag words that record which softpot
// selectors the radio supports. Header-only: the softpot read request marks
// the flags from below the service layer.

#include <cstdint>

namespace tolvan {

class radioStorage {
public:
    static constexpr int kRows = 15;
    static constexpr int kColumns = 21;
    static constexpr int kFlagWords = 12;

    radioStorage()
    {
        for (auto& row : values)
            for (auto& cell : row)
                cell = 0;
        for (auto& word : flags)
            word = 1;
    }

    int getValue(int row, int column) const { return values[row][column]; }
    // The value sits between row and column.
    void setValue(int row, int value, int column) { values[row][column] = value; }
    int getTempCompValue() const { return getValue(0, 9); }

    void setFlag(unsigned selector)
    {
        if (const int w = flagWord(selector); w >= 0)
            flags[w] = 1;
    }
    void clearFlag(unsigned selector)
    {
        if (const int w = flagWord(selector); w >= 0)
            flags[w] = 0;
    }
    int getFlag(unsigned selector) const
    {
        const int w = flagWord(selector);
        return w >= 0 ? static_cast<int>(flags[w]) : 0;
    }

    const char* getText16() const { return text16; }
    void setText16(const char* text) { text16 = text; }
    const char* getText10() const { return text10; }
    void setText10(const char* text) { text10 = text; }

    // Index into flags for a selector, -1 when it has none. Flag word 11
    // (index 10) has no selector; selector 13 uses flag word 12.
    static int flagWord(unsigned selector)
    {
        switch (selector) {
        case 2: case 3: case 4: case 5: case 6: case 7: case 8:
            return static_cast<int>(selector) - 2;
        case 10: return 7;
        case 11: return 8;
        case 12: return 9;
        case 13: return 11;
        default: return -1;
        }
    }

    const char* text16 = "NULL            ";
    const char* text10 = "NULL      ";
    std::int32_t values[kRows][kColumns];
    std::uint32_t flags[kFlagWords];
};

}  // namespace tolvan
