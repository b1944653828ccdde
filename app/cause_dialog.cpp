// The cause lookup dialog: the user types a hexadecimal cause code and reads its message.
#include "cause_dialog.h"

#include "cause_code.h"
#include "resource.h"

namespace {

constexpr char CAUSE_CAPTION[] = "理由表示";
constexpr char CAUSE_TEMPLATE[] = "CauseDisp";

// The entry last confirmed with OK, and the message it was given.
char LastCodeText[CODE_TEXT_SIZE];
char CauseMessageText[CAUSE_MESSAGE_SIZE];

// OK: reads at most CODE_TEXT_MAX - 1 characters of the field (they are kept for the next
// opening), looks the code up and shows its message, owned by the dialog.
void ShowCauseOfEntry(HWND dialog)
{
    GetDlgItemTextA(dialog, IDC_CODE, LastCodeText, CODE_TEXT_MAX);
    uint32_t code = CauseCodeFromText(LastCodeText);
    ComposeCauseMessage(code, CauseMessageText, sizeof CauseMessageText);
    MessageBoxA(dialog, CauseMessageText, CAUSE_CAPTION, MB_OK | MB_ICONWARNING);
}

INT_PTR CALLBACK CauseDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_CODE, LastCodeText);
        return TRUE;  // the focus goes to the first tab stop, the code field
    case WM_COMMAND:
        // The whole wParam: notifications of the code field are not commands.
        if (wParam == IDOK) {
            ShowCauseOfEntry(dialog);
            EndDialog(dialog, TRUE);
            return TRUE;
        }
        if (wParam == IDCANCEL) {
            EndDialog(dialog, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, TRUE);
        return TRUE;
    case WM_DESTROY:
        EndDialog(dialog, FALSE);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void OpenCauseDialog(HINSTANCE instance, HWND owner)
{
    DialogBoxParamA(instance, CAUSE_TEMPLATE, owner, CauseDlgProc, 0);
}
