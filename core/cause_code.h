// Reads a cause code the user typed and composes the message the lookup shows for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The lookup field keeps this many characters of an entry, the terminator included.
constexpr int CODE_TEXT_MAX = 30;
// Buffers for the entry and for the composed message.
constexpr int CODE_TEXT_SIZE = 128;
constexpr int CAUSE_MESSAGE_SIZE = 128;

// Room for a code as WriteCauseCode writes it: up to eight digits and the terminator.
constexpr size_t CAUSE_CODE_DIGITS_SIZE = 9;

// Writes `code` as every lookup shows it: four or more upper-case hex digits ("0010").
void WriteCauseCode(uint32_t code, char digits[CAUSE_CODE_DIGITS_SIZE]);

// What the lookup keeps of an entry typed outside the dialog (the companion's argument): its
// first CODE_TEXT_MAX - 1 bytes, as the dialog's field of CODE_TEXT_MAX bytes keeps them.
std::string_view KeptCauseEntry(std::string_view typed);

// Parses `text` as hexadecimal: leading white space, an optional sign ('-' negates modulo
// 2^32), an optional "0x" or "0X", then hex digits up to the first other character (only
// the last eight count). Returns false, leaving `code` alone, when no digit was read.
bool ParseCauseCode(const char* text, uint32_t* code);

// The code an entry stands for. An entry without a number is looked up as 0xFFFF, so the
// user reads the catalogue's "unknown cause" message rather than a made-up value.
uint32_t CauseCodeFromText(const char* text);

// Composes "理由表示 : <text>" for a catalogued code, or "未定義理由表示 : CODE=%04Xh"
// with the whole 32-bit value, into `message` (at least CAUSE_MESSAGE_SIZE bytes).
void ComposeCauseMessage(uint32_t code, char* message, size_t size);
