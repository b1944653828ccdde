// The Win32 side of the end-to-end driver: checks, files, other processes' windows.
#include "e2e_harness.h"

#include <cstdio>
#include <cstdlib>

#include "find_main_window.h"
#include "log_report.h"

namespace e2e {

namespace {

int failures = 0;

// How long a window may take to answer one sent message.
constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr DWORD POLL_MS = 25;

std::string Utf8Of(const std::string& cp932)
{
    if (cp932.empty()) return {};
    int wide = MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), nullptr, 0);
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), w.data(), wide);
    int narrow = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string u(narrow, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, u.data(), narrow, nullptr, nullptr);
    return u;
}

void Print(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int FailureCount() { return failures; }

void Note(const std::string& text) { Print("  " + text); }

void Fail(const std::string& what)
{
    ++failures;
    Print("FAILED: " + what);
    throw CaseAborted(what);
}

void Require(bool condition, const std::string& what)
{
    if (!condition) Fail(what);
}

bool Check(bool condition, const std::string& what)
{
    if (!condition) {
        ++failures;
        Print("FAILED: " + what);
    }
    return condition;
}

std::string Shown(const std::string& bytes)
{
    std::string out = "\"";
    bool highBytes = false;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += (char)c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            if (c >= 0x80) highBytes = true;
        }
    }
    out += "\"";
    if (highBytes) out += " (reads: " + Utf8Of(bytes) + ")";
    return out;
}

bool CheckBytes(const std::string& what, const std::string& expected, const std::string& actual)
{
    if (expected == actual) return true;
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    std::string detail = what + ": bytes differ at offset " + std::to_string(at) +
                         " (expected " + std::to_string(expected.size()) + " bytes, got " +
                         std::to_string(actual.size()) + ")";
    if (expected.size() + actual.size() <= 600) {
        detail += "\n    expected " + Shown(expected) + "\n    actual   " + Shown(actual);
    } else {
        size_t from = at > 40 ? at - 40 : 0;
        detail += "\n    expected ..." + Shown(expected.substr(from, 120)) +
                  "\n    actual   ..." + Shown(actual.substr(from, 120));
    }
    return Check(false, detail);
}

bool CheckNumber(const std::string& what, long long expected, long long actual)
{
    return Check(expected == actual, what + ": expected " + std::to_string(expected) +
                                         ", got " + std::to_string(actual));
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return done();
        Sleep(POLL_MS);
    }
}

void Pause(DWORD ms) { Sleep(ms); }

std::string WindowsDirectory()
{
    char directory[MAX_PATH + 1] = {};
    UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    Require(length > 0 && length < MAX_PATH, "GetWindowsDirectoryA answers");
    return directory;
}

std::string LogPath() { return WindowsDirectory() + "\\ndislog.txt"; }

namespace {

void WriteWith(const std::string& path, const std::string& bytes, DWORD access, DWORD disposition)
{
    HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    Require(file != INVALID_HANDLE_VALUE,
            "open " + path + " for writing (error " + std::to_string(GetLastError()) + ")");
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    Require(ok && (bytes.empty() || written == bytes.size()), "write " + path);
}

}  // namespace

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    WriteWith(path, bytes, GENERIC_WRITE, CREATE_ALWAYS);
}

void AppendFileBytes(const std::string& path, const std::string& bytes)
{
    WriteWith(path, bytes, FILE_APPEND_DATA, OPEN_ALWAYS);
}

bool ReadFileBytes(const std::string& path, std::string* bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes->append(chunk, got);
    CloseHandle(file);
    return true;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveFile(const std::string& path)
{
    if (!FileExists(path)) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    Require(DeleteFileA(path.c_str()) != 0, "delete " + path);
}

std::string CoreReport(const std::string& path)
{
    LogReport report;
    ReportStatus status = BuildLogReport(path.c_str(), &report);
    Require(status == REPORT_OK, "the core reads " + path);
    std::string text(report.text, report.length);
    ReleaseLogReport(&report);
    return text;
}

std::string ClassOf(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string CaptionOf(HWND window)
{
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    return caption;
}

std::string TextOf(HWND window)
{
    if (!IsWindow(window)) Fail("the window to read is gone (did the program end or close it?)");
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &length))
        Fail("window " + ClassOf(window) + " does not answer WM_GETTEXTLENGTH");
    // The length of the wide text can be short of the code page 932 length: room for both.
    std::string text(length * 2 + 16, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), (LPARAM)text.data(), SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &copied))
        Fail("window " + ClassOf(window) + " does not answer WM_GETTEXT");
    text.resize(copied);
    return text;
}

std::string DialogItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    Require(item != nullptr, "dialog control " + std::to_string(id) + " exists");
    return TextOf(item);
}

void SetTextOf(HWND window, const std::string& text)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &result))
        Fail("window " + ClassOf(window) + " does not answer WM_SETTEXT");
}

namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD processId)
{
    WindowSearch search{processId, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> DialogsCaptioned(DWORD processId, const std::string& caption)
{
    std::vector<HWND> dialogs;
    for (HWND window : TopLevelWindows(processId))
        if (ClassOf(window) == "#32770" && CaptionOf(window) == caption) dialogs.push_back(window);
    return dialogs;
}

void RequireAnswers(HWND window)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result))
        Fail("the program's window does not answer (hung or gone)");
}

void SendCommand(HWND window, WPARAM wParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_COMMAND, wParam, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result))
        Fail("command " + std::to_string(LOWORD(wParam)) + " (code " + std::to_string(HIWORD(wParam)) +
             ") did not return within " + std::to_string(SEND_TIMEOUT_MS) +
             " ms: it opened a modal window, or the program hangs");
}

void PostCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    Require(PostMessageA(window, WM_COMMAND, wParam, lParam) != 0, "post WM_COMMAND");
}

void PressKey(HWND window, UINT virtualKey)
{
    UINT scan = MapVirtualKeyA(virtualKey, 0);
    Require(PostMessageA(window, WM_KEYDOWN, virtualKey, 1 | (scan << 16)) != 0, "post WM_KEYDOWN");
    PostMessageA(window, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000u);
}

const char* BoxIconName(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::None: return "none";
    case BoxIcon::Error: return "error (stop)";
    case BoxIcon::Warning: return "warning (exclamation)";
    case BoxIcon::Information: return "information";
    case BoxIcon::Question: return "question";
    case BoxIcon::Unknown: break;
    }
    return "unknown";
}

namespace {

HWND IconControlOf(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != "Static") continue;
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
    }
    return nullptr;
}

// Pixels of `width` x `height` from `source` at x, y, as 0x00RRGGBB values.
std::vector<DWORD> Capture(HDC source, int x, int y, int width, int height)
{
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> pixels((const DWORD*)bits, (const DWORD*)bits + width * height);
    for (DWORD& p : pixels) p &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

// A standard icon drawn on the dialog colour, as the box's icon control draws it.
std::vector<DWORD> Render(LPCSTR iconName, int width, int height)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all{0, 0, width, height};
    FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
    DrawIconEx(memory, 0, 0, LoadIconA(nullptr, iconName), width, height, 0, nullptr, DI_NORMAL);
    SelectObject(memory, old);
    HDC reader = CreateCompatibleDC(screen);
    old = SelectObject(reader, bitmap);
    std::vector<DWORD> pixels = Capture(reader, 0, 0, width, height);
    SelectObject(reader, old);
    DeleteDC(reader);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

size_t Distance(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    size_t differing = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) ++differing;
    return differing;
}

}  // namespace

// Another process's icon handle means nothing here, so the icon is recognised by its
// picture: the control's pixels on the screen against each standard icon drawn locally.
BoxIcon IconOfBox(HWND box)
{
    HWND control = IconControlOf(box);
    if (!control || !IsWindowVisible(control)) return BoxIcon::None;
    RECT rect;
    GetWindowRect(control, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return BoxIcon::None;

    struct Candidate { BoxIcon icon; LPCSTR name; };
    const Candidate candidates[] = {
        {BoxIcon::Error, IDI_HAND}, {BoxIcon::Warning, IDI_EXCLAMATION},
        {BoxIcon::Information, IDI_ASTERISK}, {BoxIcon::Question, IDI_QUESTION},
    };
    BoxIcon best = BoxIcon::Unknown;
    // The box may still be painting: look again until one icon matches closely.
    WaitFor([&] {
        HDC screen = GetDC(nullptr);
        std::vector<DWORD> seen = Capture(screen, rect.left, rect.top, width, height);
        ReleaseDC(nullptr, screen);
        size_t bestDistance = seen.size();
        for (const Candidate& c : candidates) {
            size_t d = Distance(seen, Render(c.name, width, height));
            if (d < bestDistance) { bestDistance = d; best = c.icon; }
        }
        if (bestDistance * 20 > seen.size()) best = BoxIcon::Unknown;  // over 5% off
        return best != BoxIcon::Unknown;
    }, 2000);
    return best;
}

Program::Program(const std::string& exePath) : exePath_(exePath)
{
    // A path of the Unix side reaches the program through Wine's drive Z:.
    if (!exePath_.empty() && exePath_[0] == '/') {
        exePath_ = "Z:" + exePath_;
        for (char& c : exePath_) if (c == '/') c = '\\';
    }
}

Program::~Program()
{
    if (info_.hProcess) {
        if (Running()) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
}

void Program::Start()
{
    std::string commandLine = "\"" + exePath_ + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(exePath_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info_))
        Fail("start " + exePath_ + " (error " + std::to_string(GetLastError()) + ")");
}

bool Program::Running() const
{
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD Program::WaitExit(DWORD timeoutMs)
{
    if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        Fail("the program did not end within " + std::to_string(timeoutMs) + " ms");
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

HWND Program::FindMain(DWORD timeoutMs)
{
    HWND main = WaitForMainWindow(info_, timeoutMs);
    Require(main != nullptr, std::string("a window of class \"") + MAIN_WINDOW_CLASS + "\" appears");
    return main;
}

HWND Program::WaitMainShown(DWORD timeoutMs)
{
    HWND main = FindMain(timeoutMs);
    Require(WaitFor([&] { return IsWindowVisible(main) != 0; }, timeoutMs),
            "the main window becomes visible");
    RequireAnswers(main);
    return main;
}

HWND Program::LogView(HWND main)
{
    HWND view = FindWindowExA(main, nullptr, "Edit", nullptr);
    Require(view != nullptr, "the main window has an edit child (the log view)");
    return view;
}

HWND Program::WaitDialog(const std::string& caption, DWORD timeoutMs)
{
    HWND dialog = nullptr;
    WaitFor([&] {
        // A dialog counts once it is shown, when all its controls exist.
        for (HWND found : DialogsCaptioned(Id(), caption))
            if (IsWindowVisible(found)) dialog = found;
        return dialog != nullptr;
    }, timeoutMs);
    if (!dialog) Fail("a dialog captioned " + Shown(caption) + " appears");
    return dialog;
}

bool Program::WaitGone(HWND window, DWORD timeoutMs)
{
    return WaitFor([&] { return !IsWindow(window); }, timeoutMs);
}

BoxSeen ReadBox(HWND box)
{
    BoxSeen seen;
    seen.window = box;
    seen.caption = CaptionOf(box);
    if (GetDlgItem(box, 0xFFFF)) {
        seen.text = DialogItemText(box, 0xFFFF);
    } else {
        // Not a message box: show what it says instead.
        std::string texts;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            texts += " [" + ClassOf(child) + " " + std::to_string(GetDlgCtrlID(child)) + "] " + Shown(TextOf(child));
        Check(false, "the box " + Shown(seen.caption) + " is a message box; its controls:" + texts);
    }
    seen.owner = GetWindow(box, GW_OWNER);
    seen.icon = IconOfBox(box);
    return seen;
}

void DismissBox(Program& program, HWND box, WPARAM button)
{
    PostCommand(box, button, (LPARAM)GetDlgItem(box, (int)button));
    Require(program.WaitGone(box, 5000), "the message box closes when its button is pressed");
}

}  // namespace e2e
