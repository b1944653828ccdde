// The header is built from the calendar arithmetic of <chrono>, not gmtime(), so that it is the
// same on every runtime and needs nothing from the system beyond the clock.
#include "syslog_message.h"

#include <cstdio>

namespace {

constexpr size_t SYSLOG_HOSTNAME_MAX = 255;

bool PrintableAscii(char c)
{
    return c >= 33 && c <= 126;
}

}  // namespace

std::string SyslogHostName(std::string_view machineName)
{
    std::string name(machineName.substr(0, SYSLOG_HOSTNAME_MAX));
    for (char& c : name) {
        if (!PrintableAscii(c))
            c = '-';
    }
    return name.empty() ? std::string("-") : name;
}

std::string SyslogHeader(std::string_view hostName, std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{floor<microseconds>(when - day)};
    char start[64];
    std::snprintf(start, sizeof start, "<%d>1 %04d-%02u-%02uT%02d:%02d:%02d.%06ldZ ", SYSLOG_PRI,
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<long>(time.subseconds().count()));
    std::string header = start;
    header += hostName;
    header += ' ';
    header += SYSLOG_APP_NAME;
    header += " - - - ";  // no PROCID, MSGID or STRUCTURED-DATA
    return header;
}
