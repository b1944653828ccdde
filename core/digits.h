// What a digit is worth, and numbers read from text: one set of rules for every reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The value of a decimal digit, or -1 for any other character.
int DecimalDigitValue(char c);

// The value of a hexadecimal digit of either case, or -1 for any other character.
int HexDigitValue(char c);

// Reads all of `text` as an unsigned number in `base` (10 or 16) of 1 to `maxDigits` digits:
// no sign, no blank, no prefix. False, leaving `*value` alone, when `text` is anything else.
// `maxDigits` keeps the value within 64 bits (at most 19 decimal or 16 hex digits).
bool ReadWholeNumber(std::string_view text, int base, size_t maxDigits, uint64_t* value);
