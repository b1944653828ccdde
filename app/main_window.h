// Process-wide state of the program and the refresh of the log view.
#pragma once

#include <windows.h>

// Room for the longest Windows directory the query can return (259 characters), the
// separator and "ndislog.txt" (12 characters) and the terminator.
constexpr int LOG_FILE_PATH_SIZE = 272;
// What the Windows directory query is offered.
constexpr UINT WINDOWS_DIRECTORY_CAPACITY = MAX_PATH;

extern HINSTANCE AppInstance;
// The full path of the driver log, built once at start-up.
extern char LogFilePath[LOG_FILE_PATH_SIZE];

// Reads the log afresh and puts its report into `view`. Failures are shown in message
// boxes owned by `owner`; the view then keeps its text (or shows a partial report).
void RefreshLogView(HWND owner, HWND view);
