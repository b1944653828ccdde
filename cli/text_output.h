// Writing the program's code page 932 text, unchanged or converted to UTF-8 for terminals.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Converts code page 932 text to UTF-8. ASCII bytes (CR LF among them) pass unchanged.
// A byte that starts no valid character and a lead byte without a valid trail byte each
// become U+FFFD, and conversion goes on at the next byte; a pair the code page leaves
// unassigned becomes U+FFFD too, and an ASCII second byte of it is kept as itself.
std::string Cp932ToUtf8(std::string_view text);

// The same conversion, appended to `out`. Sets `*lossy` when a U+FFFD stood in for any
// byte (and leaves it alone otherwise).
void AppendCp932AsUtf8(std::string_view text, std::string* out, bool* lossy);

// Writes `text` to `stream`, converted to UTF-8 when `utf8` is set. False on a write error.
bool WriteText(std::FILE* stream, std::string_view text, bool utf8);

// Puts `stream` into binary mode where the runtime would translate line ends (Windows), so
// the report's CR LF passes unchanged and a Ctrl-Z in the log does not end it early.
void SetBinaryMode(std::FILE* stream);
