// Starts the Windows program with a driver log and writes what its log view shows: how the
// release check sees a packaged program open its window and show the log.
// Usage: view_text <ndislogview.exe> <log file> <output file>
// The log file is copied to <Windows directory>\ndislog.txt first; the view's text is written
// to the output file byte for byte. Exit code 0 when the window showed, its text was written
// and the program ended with exit code 0 once closed; 1 otherwise, with the reason.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver_log_path.h"
#include "find_main_window.h"

namespace {

constexpr DWORD START_DEADLINE_MS = 60 * 1000;
constexpr UINT ANSWER_DEADLINE_MS = 30 * 1000;
constexpr DWORD END_DEADLINE_MS = 30 * 1000;

[[noreturn]] void Die(const std::string& why)
{
    std::printf("view_text: %s\n", why.c_str());
    std::fflush(stdout);
    std::exit(1);
}

// The text of a window in another process, in the ANSI code page.
std::string TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, ANSWER_DEADLINE_MS, &length))
        Die("the view does not answer WM_GETTEXTLENGTH");
    // The length of the wide text can be short of the code page 932 length: room for both.
    std::string text(length * 2 + 16, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, ANSWER_DEADLINE_MS, &copied))
        Die("the view does not answer WM_GETTEXT");
    text.resize(copied);
    return text;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        Die("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        Die("usage: view_text <ndislogview.exe> <log file> <output file>");
    const std::string program = argv[1];

    char* logPath = NewDriverLogPath();
    if (!logPath)
        Die("no Windows directory");
    const std::string log = logPath;
    std::free(logPath);
    if (!CopyFileA(argv[2], log.c_str(), FALSE))
        Die(std::string("cannot copy ") + argv[2] + " to " + log);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + program + "\"";
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        Die("cannot start " + program);

    // Shown means the first reading of the log is in the view.
    const HWND window = WaitForMainWindow(process, START_DEADLINE_MS, true);
    if (!window) {
        TerminateProcess(process.hProcess, 1);
        Die("the main window did not appear before the program ended or the deadline");
    }
    const HWND view = FindWindowExA(window, nullptr, "Edit", nullptr);
    if (!view)
        Die("the main window holds no log view");
    const std::string text = TextOf(view);
    WriteBytes(argv[3], text);

    PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.hProcess, END_DEADLINE_MS) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        Die("the program did not end once its window was closed");
    }
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (exitCode != 0)
        Die("the program ended with exit code " + std::to_string(exitCode));
    std::printf("view_text: the window showed %u bytes and closed\n", static_cast<unsigned>(text.size()));
    return 0;
}
