// A network address as the user writes it: HOST:PORT.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct HostPort {
    std::string text;  // as given, for notices
    std::string host;  // a name or a dotted IPv4 address
    uint16_t port = 0;
};

// Splits "HOST:PORT" at its colon (PORT 1 to 65535, at most five digits, HOST not empty and
// holding no colon or bracket, as an IPv6 address would); false, leaving `*target` alone,
// when `text` is not of that form.
bool ParseHostPort(std::string_view text, HostPort* target);
