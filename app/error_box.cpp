// Error message boxes shared by the refresh of the view and by Save.
#include "error_box.h"

#include <cstdarg>

namespace {

constexpr char ERROR_CAPTION[] = "エラー";

// wsprintfA writes at most 1024 bytes, terminator included.
constexpr int MESSAGE_TEXT_SIZE = 1024;

}  // namespace

void ShowErrorBox(HWND owner, const char* text, UINT icon)
{
    MessageBoxA(owner, text, ERROR_CAPTION, MB_OK | icon);
}

void ShowFormattedErrorBox(HWND owner, UINT icon, const char* format, ...)
{
    char message[MESSAGE_TEXT_SIZE];
    va_list arguments;
    va_start(arguments, format);
    wvsprintfA(message, format, arguments);
    va_end(arguments);
    ShowErrorBox(owner, message, icon);
}
