// The About box: the program's name, version and maker lines, closed by OK, Enter or Esc.
#include "about_dialog.h"

namespace {

constexpr char ABOUT_TEMPLATE[] = "about";

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;  // the focus goes to the OK button
    case WM_COMMAND:
        // The close box arrives as IDCANCEL.
        if (wParam == IDOK || wParam == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

void OpenAboutBox(HINSTANCE instance, HWND owner)
{
    DialogBoxParamA(instance, ABOUT_TEMPLATE, owner, AboutDlgProc, 0);
}
