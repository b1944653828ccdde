// Save: writes the log report, built afresh from the driver log, to a file the user picks.
#include "save_log.h"

#include <cstddef>

#include <commdlg.h>

#include "error_box.h"
#include "log_report.h"
#include "program_texts.h"

namespace {

// The record up to and including lpTemplateName: what every version of the common
// dialogs accepts.
constexpr DWORD SAVE_REQUEST_SIZE = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#ifndef _WIN64
static_assert(SAVE_REQUEST_SIZE == 76);
#endif

// Ask before overwriting and before creating; no read-only box, no network button.
constexpr DWORD SAVE_DIALOG_FLAGS =
    OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_CREATEPROMPT | OFN_NONETWORKBUTTON;
static_assert(SAVE_DIALOG_FLAGS == 0x22006);

constexpr int SAVE_NAME_SIZE = 256;

constexpr char SAVE_FILTER[] = "Text File (*.txt)\0*.txt\0\0";
constexpr char SAVE_INITIAL_NAME[] = "*.txt";
constexpr char SAVE_TITLE[] = "NDISログ保存";
constexpr char SAVE_DEFAULT_EXTENSION[] = "txt";

// Shown with the driver log's path when the log cannot be opened for Save: its words speak of
// a file not created, which is what the user is left with.
constexpr char LOG_NOT_OPENED_FORMAT[] = "ファイル %s が作成できません\n";
constexpr char OPEN_ERROR_FORMAT[] = "ファイルオープン エラー %ld\n";
constexpr char WRITE_ERROR_FORMAT[] = "ファイルの書き込みに失敗しました! エラー %ld\n";

// System error codes are shown as signed decimal numbers.
void ShowSystemError(HWND owner, const char* format, DWORD error)
{
    ShowFormattedErrorBox(owner, MB_ICONWARNING, format, static_cast<long>(error));
}

}  // namespace

void SaveLogAs(HWND owner, const char* logPath)
{
    char fileName[SAVE_NAME_SIZE] = {};
    char fileTitle[SAVE_NAME_SIZE] = {};
    lstrcpyA(fileName, SAVE_INITIAL_NAME);

    OPENFILENAMEA request = {};
    request.lStructSize = SAVE_REQUEST_SIZE;
    request.hwndOwner = owner;
    request.lpstrFilter = SAVE_FILTER;
    request.lpstrCustomFilter = nullptr;
    request.nMaxCustFilter = 0;
    request.nFilterIndex = 1;
    request.lpstrFile = fileName;
    request.nMaxFile = SAVE_NAME_SIZE;
    request.lpstrFileTitle = fileTitle;
    request.nMaxFileTitle = SAVE_NAME_SIZE;
    request.lpstrInitialDir = nullptr;
    request.lpstrTitle = SAVE_TITLE;
    request.Flags = SAVE_DIALOG_FLAGS;
    request.lpstrDefExt = SAVE_DEFAULT_EXTENSION;
    if (!GetSaveFileNameA(&request))
        return;

    // Built only now, so the file gets the log as it stands after the dialog.
    LogReport report;
    switch (BuildLogReport(logPath, &report)) {
    case REPORT_CANNOT_OPEN:
        // The message names the log, not the chosen file, which is left untouched.
        ShowFormattedErrorBox(owner, MB_ICONERROR, LOG_NOT_OPENED_FORMAT, logPath);
        return;
    case REPORT_NO_MEMORY:
        ShowErrorBox(owner, NO_MEMORY_TEXT, MB_ICONWARNING);
        ReleaseLogReport(&report);  // a partial report is never written
        return;
    case REPORT_OK:
        break;
    }

    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ShowSystemError(owner, OPEN_ERROR_FORMAT, error);
        ReleaseLogReport(&report);
        return;
    }

    if (report.length != 0) {
        DWORD written;
        if (!WriteFile(file, report.text, static_cast<DWORD>(report.length), &written, nullptr)) {
            DWORD error = GetLastError();
            ShowSystemError(owner, WRITE_ERROR_FORMAT, error);
        }
    }
    ReleaseLogReport(&report);
    // An existing file opens with its old content: cut it after the new text.
    SetEndOfFile(file);
    CloseHandle(file);
}
