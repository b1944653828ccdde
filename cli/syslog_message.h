// The RFC 5424 syslog message that carries one JSON record to the centre.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

// Every record goes as facility local0, severity informational: PRI 16 * 8 + 6.
constexpr int SYSLOG_PRI = 134;
constexpr const char* SYSLOG_APP_NAME = "ndislog";

// The HOSTNAME field for the machine's name: printable US-ASCII only (any other byte becomes
// '-'), at most 255 characters, "-" when the name is empty.
std::string SyslogHostName(std::string_view machineName);

// Everything of a message before its MSG, the same for all records sent at `when`:
//   "<134>1 2024-05-01T12:34:56.789012Z HOST ndislog - - - "
// The time stamp is UTC, to the microsecond.
std::string SyslogHeader(std::string_view hostName, std::chrono::system_clock::time_point when);
