// Digits as the C locale knows them, whatever the runtime's locale.
#include "digits.h"

int DecimalDigitValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

int HexDigitValue(char c)
{
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return DecimalDigitValue(c);
}

bool ReadWholeNumber(std::string_view text, int base, size_t maxDigits, uint64_t* value)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    uint64_t number = 0;
    for (const char c : text) {
        const int digit = base == 16 ? HexDigitValue(c) : DecimalDigitValue(c);
        if (digit < 0)
            return false;
        number = number * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    *value = number;
    return true;
}
