// Stops on POSIX: SIGINT, SIGTERM and SIGHUP (the terminal closed) set a flag; a sleep is
// cut short by them.
#include "platform.h"

#include <csignal>
#include <ctime>

namespace {

volatile std::sig_atomic_t StopFlag = 0;

extern "C" void OnStopSignal(int)
{
    StopFlag = 1;
}

}  // namespace

void CatchStopRequests()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    // Started under nohup, SIGHUP is ignored on purpose and stays so.
    if (std::signal(SIGHUP, OnStopSignal) == SIG_IGN)
        std::signal(SIGHUP, SIG_IGN);
}

void RequestStop()
{
    StopFlag = 1;
}

bool StopRequested()
{
    return StopFlag != 0;
}

void SignalFollowingEnded() {}

void SleepMs(int milliseconds)
{
    timespec pause = {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);  // a signal cuts it short, which is what we want
}
