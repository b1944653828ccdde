// The program's code page 932 text converted to UTF-8 for terminals and JSON, and the
// companion's command-line arguments taken in the encoding they arrive in.
#pragma once

#include <string>
#include <string_view>

// Converts code page 932 text to UTF-8 as Windows' code page 932 does, on every platform.
// ASCII bytes (CR LF among them) pass unchanged; the single bytes 0x80, 0xA0 and 0xFD-0xFF,
// which Windows maps and other CP932 tables leave out, become U+0080, U+F8F0 and
// U+F8F1-U+F8F3. A lead byte without a valid trail byte becomes U+FFFD, and conversion goes
// on at the next byte; a pair the code page leaves unassigned becomes U+FFFD too, and an
// ASCII second byte of it is kept as itself.
std::string Cp932ToUtf8(std::string_view text);

// The same conversion, appended to `out`. Sets `*lossy` when a U+FFFD stood in for any
// byte (and leaves it alone otherwise).
void AppendCp932AsUtf8(std::string_view text, std::string* out, bool* lossy);

// Appends a command-line argument to `out` as UTF-8. It arrives in the ANSI code page on
// Windows and in UTF-8 elsewhere, where a byte that starts no valid character becomes U+FFFD
// and sets `*lossy`.
void AppendArgumentAsUtf8(std::string_view argument, std::string* out, bool* lossy);
