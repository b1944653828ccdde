// What tells one run from another on Win32: the system time, the tick count, the process id.
#include "platform.h"

#include <windows.h>

void MomentAndProcess(uint64_t seeds[3])
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    seeds[0] = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    seeds[1] = GetTickCount();
    seeds[2] = GetCurrentProcessId();
}
