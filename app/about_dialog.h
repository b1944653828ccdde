// The About box (template "about").
#pragma once

#include <windows.h>

// Opens the About box, owned by `owner`, and returns once it is closed.
void OpenAboutBox(HINSTANCE instance, HWND owner);
