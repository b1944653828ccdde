// Stops on Win32: Ctrl+C and Ctrl+Break ask for one. Closing the console, logging off and
// shutting down end the process as soon as the handler returns, so it waits (up to the few
// seconds Windows grants) until the piece being written and its place are saved.
#include "platform.h"

#include <windows.h>

namespace {

constexpr int SHUTDOWN_WAIT_MS = 4500;
constexpr int SHUTDOWN_POLL_MS = 50;

volatile LONG StopFlag = 0;
volatile LONG FollowingEnded = 0;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    StopFlag = 1;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int waited = 0; waited < SHUTDOWN_WAIT_MS && !FollowingEnded; waited += SHUTDOWN_POLL_MS)
            Sleep(SHUTDOWN_POLL_MS);
    }
    return TRUE;
}

}  // namespace

void CatchStopRequests()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RequestStop()
{
    StopFlag = 1;
}

bool StopRequested()
{
    return StopFlag != 0;
}

void SignalFollowingEnded()
{
    FollowingEnded = 1;
}

void SleepMs(int milliseconds)
{
    Sleep(static_cast<DWORD>(milliseconds));
}
