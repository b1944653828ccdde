// Drives the real ndislogview.exe from another Win32 process, the way a user would: it
// starts the program, finds its windows, reads what they show and presses their buttons.
// Every wait has a deadline, so a fault fails the case instead of hanging it.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace e2e {

// Thrown by Require and Fail: the case cannot go on.
struct CaseAborted : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Checks. Each failure is printed with what was expected and what was seen; Check* go on,
// Require and Fail end the case.
int FailureCount();
void Fail(const std::string& what);
void Require(bool condition, const std::string& what);
bool Check(bool condition, const std::string& what);
bool CheckBytes(const std::string& what, const std::string& expected, const std::string& actual);
bool CheckNumber(const std::string& what, long long expected, long long actual);
void Note(const std::string& text);

// A byte string shown so that every byte is visible: printable ASCII as itself, the rest
// as \xNN, followed by a UTF-8 reading of the code page 932 text when it has any.
std::string Shown(const std::string& bytes);

// Polls `done` every few milliseconds until it is true or `timeoutMs` has passed.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs);
void Pause(DWORD ms);

// Files, by Windows path.
std::string WindowsDirectory();
std::string LogPath();  // <Windows directory>\ndislog.txt, where the program reads its log
void WriteFileBytes(const std::string& path, const std::string& bytes);
void AppendFileBytes(const std::string& path, const std::string& bytes);
bool ReadFileBytes(const std::string& path, std::string* bytes);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);  // also when it is read-only
// The report the core builds from `path` right now: what the view and Save must show.
std::string CoreReport(const std::string& path);

// Windows of another process.
std::string ClassOf(HWND window);
std::string CaptionOf(HWND window);
// WM_GETTEXT through a timed send; fails the case when the window does not answer.
std::string TextOf(HWND window);
std::string DialogItemText(HWND dialog, int id);
void SetTextOf(HWND window, const std::string& text);
std::vector<HWND> TopLevelWindows(DWORD processId);
// The dialog boxes (class #32770) of the process with this caption.
std::vector<HWND> DialogsCaptioned(DWORD processId, const std::string& caption);
// Fails the case unless the window's thread answers a sent message in time. It proves no
// more than that: a thread handles sent messages before posted ones, so a command posted
// just before may still be waiting.
void RequireAnswers(HWND window);
// Sends a menu command and returns once its handler has returned. Only for commands that
// open no modal loop: a dialog would hold the send until it fails the case.
void SendCommand(HWND window, WPARAM wParam);
// Posts a command; for those that open a dialog, whose appearance is then waited for.
void PostCommand(HWND window, WPARAM wParam, LPARAM lParam = 0);
void PressKey(HWND window, UINT virtualKey);  // as the keyboard would, to a focused control

// The picture of a message box's icon: which standard icon its icon control shows.
enum class BoxIcon { None, Error, Warning, Information, Question, Unknown };
const char* BoxIconName(BoxIcon icon);
BoxIcon IconOfBox(HWND box);

// The program under test, one process. Ended by TerminateProcess when still running at
// the end of the case, so a failed case leaves nothing behind.
class Program {
public:
    explicit Program(const std::string& exePath);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void Start();
    DWORD Id() const { return info_.dwProcessId; }
    bool Running() const;
    // Waits for the end of the process and returns its exit code.
    DWORD WaitExit(DWORD timeoutMs);
    // The top-level window of class "Tarveno", visible or not.
    HWND FindMain(DWORD timeoutMs);
    // The main window once it is visible, and its log view.
    HWND WaitMainShown(DWORD timeoutMs);
    HWND LogView(HWND main);

    // A dialog box with this caption; fails the case when none appears in time.
    HWND WaitDialog(const std::string& caption, DWORD timeoutMs);
    // Waits until `window` is destroyed.
    bool WaitGone(HWND window, DWORD timeoutMs);

private:
    std::string exePath_;
    PROCESS_INFORMATION info_{};
};

// The message box `box`: its text (control 0xFFFF), caption, owner and icon.
struct BoxSeen {
    HWND window = nullptr;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    BoxIcon icon = BoxIcon::Unknown;
};
BoxSeen ReadBox(HWND box);
// Presses OK on a message box and waits until it is gone.
void DismissBox(Program& program, HWND box, WPARAM button = IDOK);

}  // namespace e2e
