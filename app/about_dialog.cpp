// The About box: the program's name, version and maker lines, closed by OK, Enter or Esc.
#include "about_dialog.h"

namespace {

constexpr char ABOUT_TEMPLATE[] = "about";

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    // The close box arrives as IDCANCEL.
    if (message == WM_COMMAND && (wParam == IDOK || wParam == IDCANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG;  // TRUE: the focus goes to the OK button
}

}  // namespace

void OpenAboutBox(HINSTANCE instance, HWND owner)
{
    DialogBoxParamA(instance, ABOUT_TEMPLATE, owner, AboutDlgProc, 0);
}
