// Reads a cause code the user typed and composes the message the lookup shows for it.
#pragma once

#include <cstddef>
#include <cstdint>

// The lookup field keeps this many characters of an entry, the terminator included.
constexpr int CODE_TEXT_MAX = 30;
// Buffers for the entry and for the composed message.
constexpr int CODE_TEXT_SIZE = 128;
constexpr int CAUSE_MESSAGE_SIZE = 128;

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
