// The cause lookup dialog (template "CauseDisp").
#pragma once

#include <windows.h>

#include "cause_code.h"

// The entry last confirmed with OK; it stands in the field again at the next opening.
extern char LastCodeText[CODE_TEXT_SIZE];
// The message composed by the last OK.
extern char CauseMessageText[CAUSE_MESSAGE_SIZE];

INT_PTR CALLBACK CauseDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
