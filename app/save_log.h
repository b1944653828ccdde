// The Save command: writes a freshly built log report to a file the user picks.
#pragma once

#include <windows.h>

// Asks for a file name (dialog owned by `owner`), builds the report of the log at `logPath`
// and writes it. Every failure is shown in a message box owned by `owner`; a cancelled
// dialog does nothing.
void SaveLogAs(HWND owner, const char* logPath);
