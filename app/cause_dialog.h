// The cause lookup dialog (template "CauseDisp").
#pragma once

#include <windows.h>

// Opens the dialog, owned by `owner`, and returns once it is closed. The entry last
// confirmed with OK stands in the field again at the next opening.
void OpenCauseDialog(HINSTANCE instance, HWND owner);
