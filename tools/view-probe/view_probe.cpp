// Measures how the Windows program's window responds with a large driver log, from another
// process, the way a user feels it: how long from start until the window is shown and
// answers, and, with monitoring on, the longest time the window does not answer while each
// refresh replaces the whole text of its view.
// Usage: view_probe <ndislogview.exe> <log file> <seconds of monitoring>
// The log file is copied to <Windows directory>\ndislog.txt first. Prints one line of
// figures; exit code 0 when it could measure, 1 otherwise.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver_log_path.h"
#include "find_main_window.h"
#include "resource.h"

namespace {

constexpr DWORD START_DEADLINE_MS = 10 * 60 * 1000;
constexpr UINT ANSWER_DEADLINE_MS = 10 * 60 * 1000;
constexpr DWORD PROBE_GAP_MS = 20;
// A wait for an answer longer than this counts as a stall (a refresh, or the start).
constexpr double STALL_MS = 250;

[[noreturn]] void Die(const std::string& why)
{
    std::printf("view_probe: %s\n", why.c_str());
    std::fflush(stdout);
    std::exit(1);
}

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds until the window has answered one sent message.
double TimeAnswer(HWND window, UINT message, WPARAM wParam)
{
    const double start = Now();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, 0, SMTO_NORMAL, ANSWER_DEADLINE_MS, &result))
        Die("the window did not answer within " + std::to_string(ANSWER_DEADLINE_MS) + " ms");
    return Now() - start;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        Die("usage: view_probe <ndislogview.exe> <log file> <seconds of monitoring>");
    const std::string program = argv[1];
    const std::string source = argv[2];
    const double monitorMs = 1000.0 * std::atof(argv[3]);

    char* logPath = NewDriverLogPath();
    if (!logPath)
        Die("no Windows directory");
    const std::string log = logPath;
    std::free(logPath);
    if (!CopyFileA(source.c_str(), log.c_str(), FALSE))
        Die("cannot copy " + source + " to " + log);
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    GetFileAttributesExA(log.c_str(), GetFileExInfoStandard, &attributes);
    const double logKiB = static_cast<double>(attributes.nFileSizeLow) / 1024.0;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + program + "\"";
    const double started = Now();
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        Die("cannot start " + program);

    // Shown means the first refresh is done; answering means it has painted and is idle.
    const HWND window = WaitForMainWindow(process, START_DEADLINE_MS, true);
    if (!window)
        Die("the main window did not appear before the program ended or the deadline");
    TimeAnswer(window, WM_NULL, 0);
    const double startUpMs = Now() - started;

    // Sent, so that the monitor's period starts before the first probe.
    TimeAnswer(window, WM_COMMAND, IDM_MONITOR);
    std::vector<double> stalls;
    double longest = 0;
    const double monitorStart = Now();
    while (Now() - monitorStart < monitorMs) {
        const double answer = TimeAnswer(window, WM_NULL, 0);
        longest = std::max(longest, answer);
        if (answer > STALL_MS)
            stalls.push_back(answer);
        Sleep(PROBE_GAP_MS);
    }

    PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::sort(stalls.begin(), stalls.end());
    const double median = stalls.empty() ? 0 : stalls[stalls.size() / 2];
    std::printf("log %.0f KiB: start-up %.0f ms; monitoring %.0f s: %u stalls over %.0f ms, "
                "median %.0f ms, longest %.0f ms\n",
                logKiB, startUpMs, monitorMs / 1000, static_cast<unsigned>(stalls.size()), STALL_MS,
                median, longest);
    return 0;
}
