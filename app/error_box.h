// The program's error message boxes: caption "エラー", an OK button, owned by the window
// whose operation failed.
#pragma once

#include <windows.h>

// Shows `text` with `icon` (MB_ICONERROR or MB_ICONWARNING).
void ShowErrorBox(HWND owner, const char* text, UINT icon);

// Formats `format` as wsprintfA does (at most 1024 bytes), then shows it like ShowErrorBox.
void ShowFormattedErrorBox(HWND owner, UINT icon, const char* format, ...);
