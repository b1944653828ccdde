// What tells one run from another on POSIX: the real-time clock and the process id.
#include "platform.h"

#include <ctime>
#include <unistd.h>

void MomentAndProcess(uint64_t seeds[3])
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    seeds[0] = static_cast<uint64_t>(now.tv_sec);
    seeds[1] = static_cast<uint64_t>(now.tv_nsec);
    seeds[2] = static_cast<uint64_t>(getpid());
}
