// HOST:PORT read once, where it enters: on the command line.
#include "host_port.h"

#include "digits.h"

namespace {

constexpr size_t PORT_DIGITS_MAX = 5;
constexpr uint64_t PORT_MAX = 65535;

}  // namespace

bool ParseHostPort(std::string_view text, HostPort* target)
{
    const size_t colon = text.rfind(':');
    uint64_t port = 0;
    // The sender speaks IPv4: an IPv6 address, bracketed or not, is refused here rather than
    // looked up as a name for ever.
    if (colon == std::string_view::npos || colon == 0 || text.find_first_of("[]") != std::string_view::npos ||
        text.find(':') != colon ||
        !ReadWholeNumber(text.substr(colon + 1), 10, PORT_DIGITS_MAX, &port) || port == 0 || port > PORT_MAX)
        return false;
    target->text.assign(text);
    target->host.assign(text.substr(0, colon));
    target->port = static_cast<uint16_t>(port);
    return true;
}
