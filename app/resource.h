// Ids shared by the resource script and the program: menu commands and dialog controls.
// Plain macros, so the resource compiler's preprocessor reads them as well.
#pragma once

// Menu commands of IsdnMenu. WM_COMMAND handlers compare the whole wParam with these,
// so only a menu selection (notification code 0) acts.
#define IDM_SAVE     100
#define IDM_MONITOR  101
#define IDM_EXIT     102
#define IDM_ABOUT    103
#define IDM_CAUSE    105

// The code field of the cause lookup dialog.
#define IDC_CODE     155

// Static controls without an id.
#define IDC_NONE     -1
