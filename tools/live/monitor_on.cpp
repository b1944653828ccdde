// For the live demo: starts ndislogview, switches its monitoring on as choosing 監視 in its
// menu does, says "monitoring is on" once the first refresh has changed the view (the demo's
// log grows all the while), and ends when the program ends, with its exit code.
//   ndislog_monitor_on.exe PROGRAM
// One process for both, so that on a Wine virtual desktop the helper finds the window.
#include <windows.h>

#include <cstdio>
#include <string>

#include "find_main_window.h"
#include "resource.h"

namespace {

constexpr DWORD WINDOW_WAIT_MS = 30000;
// The first refresh comes one monitoring period (3 s) after the command.
constexpr DWORD REFRESH_WAIT_MS = 10000;
constexpr DWORD STEP_MS = 100;
constexpr UINT SEND_TIMEOUT_MS = 2000;

// The view's text length, asked of the program itself: another process's edit control does
// not answer GetWindowTextLength. -1 when it does not answer.
long long ViewTextLength(HWND view)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(view, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &length))
        return -1;
    return static_cast<long long>(length);
}

// Switches monitoring on in the program's main window; false when that cannot be seen.
bool SwitchMonitoringOn(const PROCESS_INFORMATION& program)
{
    const HWND window = WaitForMainWindow(program, WINDOW_WAIT_MS);
    const HWND view = window ? FindWindowExA(window, nullptr, "Edit", nullptr) : nullptr;
    if (!view) {
        std::fprintf(stderr, "monitor_on: no ndislogview window with a log view appeared\n");
        return false;
    }
    const long long before = ViewTextLength(view);
    if (!PostMessageA(window, WM_COMMAND, IDM_MONITOR, 0)) {
        std::fprintf(stderr, "monitor_on: the monitoring command could not be sent\n");
        return false;
    }
    for (DWORD waited = 0; waited < REFRESH_WAIT_MS; waited += STEP_MS, Sleep(STEP_MS)) {
        if (ViewTextLength(view) != before)
            return true;
    }
    std::fprintf(stderr, "monitor_on: the view did not change after monitoring was switched on\n");
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: ndislog_monitor_on PROGRAM\n");
        return 2;
    }
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION program = {};
    if (!CreateProcessA(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &program)) {
        std::fprintf(stderr, "monitor_on: cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    if (SwitchMonitoringOn(program))
        std::printf("monitor_on: monitoring is on\n");
    else
        TerminateProcess(program.hProcess, 1);
    std::fflush(stdout);
    WaitForSingleObject(program.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(program.hProcess, &exitCode);
    CloseHandle(program.hThread);
    CloseHandle(program.hProcess);
    return static_cast<int>(exitCode);
}
