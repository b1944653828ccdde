// Finding the Windows program's main window from another process, as its tests and tools
// do: by its class name, which the program keeps for that purpose.
#pragma once

#include <windows.h>

#include <cstring>
#include <utility>

constexpr char MAIN_WINDOW_CLASS[] = "Tarveno";

inline BOOL CALLBACK IsMainWindowOf(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<std::pair<DWORD, HWND>*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[sizeof MAIN_WINDOW_CLASS + 1] = {};
    GetClassNameA(window, name, sizeof name);
    if (owner != search->first || std::strcmp(name, MAIN_WINDOW_CLASS) != 0)
        return TRUE;
    search->second = window;
    return FALSE;
}

// Waits at most `timeoutMs` for the process's top-level window of that class (and, with
// `shown`, for it to be visible). Null when none came in time or the process ended first.
inline HWND WaitForMainWindow(const PROCESS_INFORMATION& process, DWORD timeoutMs, bool shown = false)
{
    const DWORD start = GetTickCount();
    for (;;) {
        std::pair<DWORD, HWND> search(process.dwProcessId, nullptr);
        EnumWindows(IsMainWindowOf, reinterpret_cast<LPARAM>(&search));
        if (search.second && (!shown || IsWindowVisible(search.second)))
            return search.second;
        if (GetTickCount() - start >= timeoutMs || WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0)
            return nullptr;
    }
}
