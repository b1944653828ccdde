// The parsing rules are those of a C hexadecimal conversion, without its overflow clamp:
// digits wrap modulo 2^32 and a '-' negates, so "-1" reads as FFFFFFFF.
#include "cause_code.h"

#include <cstdio>

#include "cause_catalogue.h"
#include "digits.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool ParseCauseCode(const char* text, uint32_t* code)
{
    const char* at = text;
    while (IsBlank(*at))
        ++at;
    bool negative = false;
    if (*at == '+' || *at == '-')
        negative = *at++ == '-';
    // The prefix is passed over even with no digit behind it: a bare "0x" is no number.
    if (at[0] == '0' && (at[1] == 'x' || at[1] == 'X'))
        at += 2;

    uint32_t value = 0;
    bool anyDigit = false;
    for (int digit; (digit = HexDigitValue(*at)) >= 0; ++at) {
        value = value * 16u + static_cast<uint32_t>(digit);
        anyDigit = true;
    }
    if (!anyDigit)
        return false;
    *code = negative ? 0u - value : value;
    return true;
}

uint32_t CauseCodeFromText(const char* text)
{
    uint32_t code = UNKNOWN_CAUSE_CODE;
    ParseCauseCode(text, &code);
    return code;
}

void WriteCauseCode(uint32_t code, char digits[CAUSE_CODE_DIGITS_SIZE])
{
    std::snprintf(digits, CAUSE_CODE_DIGITS_SIZE, "%04X", static_cast<unsigned>(code));
}

std::string_view KeptCauseEntry(std::string_view typed)
{
    return typed.substr(0, CODE_TEXT_MAX - 1);
}

void ComposeCauseMessage(uint32_t code, char* message, size_t size)
{
    const char* text = LookupCause(code);
    if (text) {
        std::snprintf(message, size, "理由表示 : %s", text);
    } else {
        char digits[CAUSE_CODE_DIGITS_SIZE];
        WriteCauseCode(code, digits);
        std::snprintf(message, size, "未定義理由表示 : CODE=%sh", digits);
    }
}
