// End-to-end cases of ndislogview.exe, run under Wine: each case starts the real program
// with a prepared log in the Windows directory and checks what a user sees.
// Usage: e2e_driver <path of ndislogview.exe> <case>   (or: e2e_driver --list)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "resource.h"

using namespace e2e;

namespace {

// The program refreshes every 3000 ms while monitoring; the waits leave room around that.
constexpr DWORD PERIOD_MS = 3000;
constexpr DWORD QUIET_MS = 2000;        // surely before the first tick
constexpr DWORD TICK_DEADLINE_MS = 6500;
constexpr DWORD UI_MS = 8000;           // a window to appear or go
constexpr DWORD CASE_DEADLINE_MS = 90000;

const char MAIN_CAPTION[] = "NDIS ログ情報表示";
const char ERROR_CAPTION[] = "エラー";
const char SAVE_TITLE[] = "NDISログ保存";
const char CAUSE_TITLE[] = "理由表示を参照";
const char CAUSE_CAPTION[] = "理由表示";
const char ABOUT_TITLE[] = "バージョン情報";

std::string ProgramPath;

// Logs with a bit of everything the view must carry unchanged: CR LF and LF ends, lines
// that give no record, Japanese text, printable and other tokens, no LF at the end.
const char RICH_LOG[] =
    "0012.Call setup,0x4E4E4F43,0x00000010\r\n"
    "0013.回線切断,0x00000010\n"
    "noperiod\n"
    "a.nocomma\n"
    ".,\n"
    "H,x.M.N,0x41424344\r\n"
    "0014.データ,0x6a6b6c6d 0x0000abcd,x,y,z,0x41424344\n"
    "0015.last line,0x20202020";

std::string NumberedLines(int from, int count, const char* message)
{
    std::string log;
    for (int i = from; i < from + count; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "%04d.%s %d,0x4E4E4F43,0x%08X\r\n", i, message, i, i);
        log += line;
    }
    return log;
}

std::string CannotOpenText() { return "Can't Open " + LogPath() + "\n"; }

HWND FocusOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

// Every box captioned "エラー" that the program shows right now.
std::vector<HWND> ErrorBoxes(Program& program) { return DialogsCaptioned(program.Id(), ERROR_CAPTION); }

void CheckBox(const BoxSeen& box, const std::string& text, HWND owner, BoxIcon icon,
              const std::string& caption = ERROR_CAPTION)
{
    CheckBytes("message box caption", caption, box.caption);
    CheckBytes("message box text", text, box.text);
    Check(box.owner == owner, "message box owned by the expected window");
    Check(box.icon == icon, std::string("message box icon: expected ") + BoxIconName(icon) +
                                ", got " + BoxIconName(box.icon));
}

HWND StartShown(Program& program)
{
    program.Start();
    return program.WaitMainShown(UI_MS);
}

// ---- start-up -------------------------------------------------------------------------

void StartShowsReport()
{
    WriteFileBytes(LogPath(), RICH_LOG);
    std::string expected = CoreReport(LogPath());
    Require(!expected.empty(), "the prepared log gives a report");

    Program program(ProgramPath);
    HWND main = StartShown(program);
    CheckBytes("main window caption", MAIN_CAPTION, CaptionOf(main));
    CheckBytes("main window class", "Tarveno", ClassOf(main));
    RECT rect;
    GetWindowRect(main, &rect);
    CheckNumber("main window width", 600, rect.right - rect.left);
    CheckNumber("main window height", 400, rect.bottom - rect.top);
    HWND view = program.LogView(main);
    CheckBytes("log view text", expected, TextOf(view));
    Check(ErrorBoxes(program).empty(), "no error box at a normal start");

    // The view fills the client area, one pixel above its top edge; read-only, multi-line.
    RECT client, placed;
    GetClientRect(main, &client);
    MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&client), 2);
    GetWindowRect(view, &placed);
    CheckNumber("log view left", client.left, placed.left);
    CheckNumber("log view top", client.top - 1, placed.top);
    CheckNumber("log view width", client.right - client.left, placed.right - placed.left);
    CheckNumber("log view height", client.bottom - client.top, placed.bottom - placed.top);
    const LONG wanted = ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL;
    CheckNumber("log view styles", wanted, GetWindowLongA(view, GWL_STYLE) & wanted);
    Check(FocusOf(main) == program.LogView(main), "the log view has the keyboard focus");
}

// Over 65536 bytes of report and past record 999: the whole text reaches the view.
void StartShowsLargeReport()
{
    WriteFileBytes(LogPath(), NumberedLines(1, 1600, "Record"));
    std::string expected = CoreReport(LogPath());
    Require(expected.size() > 65536, "the prepared log gives more than 65536 bytes");
    Require(expected.find("\r\n1000. ") != std::string::npos, "the report reaches record 1000");

    Program program(ProgramPath);
    HWND main = StartShown(program);
    CheckBytes("log view text", expected, TextOf(program.LogView(main)));
}

// No single-instance test: a second copy starts and shows the log as well.
void TwoCopiesRun()
{
    WriteFileBytes(LogPath(), RICH_LOG);
    std::string expected = CoreReport(LogPath());
    Program first(ProgramPath), second(ProgramPath);
    HWND firstMain = StartShown(first);
    HWND secondMain = StartShown(second);
    CheckBytes("first copy's view", expected, TextOf(first.LogView(firstMain)));
    CheckBytes("second copy's view", expected, TextOf(second.LogView(secondMain)));
    Check(first.Running() && second.Running(), "both copies run");
    // Nothing is shared: the second copy outlives the first and still works.
    Require(PostMessageA(firstMain, WM_CLOSE, 0, 0) != 0, "close the first copy");
    CheckNumber("first copy's exit code", 0, (long long)first.WaitExit(UI_MS));
    Check(second.Running(), "the second copy runs on after the first has ended");
    CheckBytes("second copy's view after the first ended", expected, TextOf(second.LogView(secondMain)));
}

void StartWithoutLog()
{
    RemoveFile(LogPath());
    Program program(ProgramPath);
    program.Start();
    HWND box = program.WaitDialog(ERROR_CAPTION, UI_MS);
    HWND main = program.FindMain(UI_MS);
    Check(!IsWindowVisible(main), "the main window is still hidden while the box is shown");
    CheckBox(ReadBox(box), CannotOpenText(), main, BoxIcon::Error);
    DismissBox(program, box);
    program.WaitMainShown(UI_MS);
    CheckBytes("log view text", "", TextOf(program.LogView(main)));
    Check(ErrorBoxes(program).empty(), "no second box");
}

void StartWithEmptyReport()
{
    WriteFileBytes(LogPath(), "noperiod\r\na.nocomma\n\n");
    Program program(ProgramPath);
    HWND main = StartShown(program);
    CheckBytes("log view of a log without records", "", TextOf(program.LogView(main)));
    Check(ErrorBoxes(program).empty(), "an empty report shows no box");
}

// ---- resources ------------------------------------------------------------------------

struct MenuEntry {
    WORD flags;
    WORD id;  // none for a popup
    std::u16string text;
};

std::u16string Label(const std::u16string& name, char16_t latin, const std::u16string& kana)
{
    return name + u"(" + u'\x1e' + latin + u'\x1f' + kana + u")";
}

std::string Cp932Of(const std::u16string& text)
{
    std::string out(text.size() * 2 + 1, '\0');
    int n = WideCharToMultiByte(932, 0, (LPCWSTR)text.data(), (int)text.size(), out.data(),
                                (int)out.size(), nullptr, nullptr);
    out.resize(n > 0 ? n : 0);
    return out;
}

std::vector<MenuEntry> ParseMenuTemplate(const BYTE* data, DWORD size, std::string* problem)
{
    std::vector<MenuEntry> entries;
    auto word = [&](DWORD at) { return (WORD)(data[at] | (data[at + 1] << 8)); };
    if (size < 4 || word(0) != 0) { *problem = "not a standard menu template (version 0)"; return entries; }
    DWORD at = 4 + word(2);
    while (at + 2 <= size) {
        MenuEntry entry{word(at), 0, {}};
        at += 2;
        if (!(entry.flags & MF_POPUP)) { entry.id = word(at); at += 2; }
        while (at + 2 <= size && word(at) != 0) { entry.text += (char16_t)word(at); at += 2; }
        at += 2;
        entries.push_back(entry);
    }
    return entries;
}

void ResourcesAreJapanese()
{
    const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    std::string path = ProgramPath;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path) if (c == '/') c = '\\';
    }
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    Require(module != nullptr, "load the program's resources from " + path);

    HRSRC menu = FindResourceExA(module, RT_MENU, "ISDNMENU", japanese);
    Require(menu != nullptr, "menu IsdnMenu exists in language 1041");
    const BYTE* data = (const BYTE*)LockResource(LoadResource(module, menu));
    std::string problem;
    std::vector<MenuEntry> seen = ParseMenuTemplate(data, SizeofResource(module, menu), &problem);
    Require(problem.empty(), problem);

    const MenuEntry expected[] = {
        {0x10, 0, Label(u"ﾌｧｲﾙ", u'F', u"ｼ")},
        {0x00, IDM_SAVE, Label(u"保存", u'S', u"ｽ")},
        {0x00, IDM_MONITOR, Label(u"監視", u'T', u"ｽ")},
        {0x00, 0, u""},
        {0x80, IDM_EXIT, Label(u"終了", u'E', u"ｲ")},
        {0x90, 0, Label(u"\bﾍﾙﾌﾟ", u'H', u"ｸ")},
        {0x00, IDM_CAUSE, Label(u"理由表示", u'C', u"ﾁ")},
        {0x4080, IDM_ABOUT, Label(u"バージョン情報", u'A', u"ﾁ") + u"... "},
    };
    CheckNumber("menu entries", std::size(expected), seen.size());
    for (size_t i = 0; i < std::size(expected) && i < seen.size(); ++i) {
        std::string which = "menu entry ";
        which += std::to_string(i + 1);
        CheckNumber(which + " flags", expected[i].flags, seen[i].flags);
        CheckNumber(which + " command", expected[i].id, seen[i].id);
        CheckBytes(which + " label", Cp932Of(expected[i].text), Cp932Of(seen[i].text));
        Check(expected[i].text == seen[i].text, which + " label, as UTF-16 units");
    }

    struct Named { LPCSTR type; const char* name; const char* what; };
    const Named others[] = {
        {RT_DIALOG, "ABOUT", "dialog about"},
        {RT_DIALOG, "CAUSEDISP", "dialog CauseDisp"},
        {RT_GROUP_ICON, "TARVENO", "icon TARVENO"},
    };
    for (const Named& other : others)
        Check(FindResourceExA(module, other.type, other.name, japanese) != nullptr,
              std::string(other.what) + " exists in language 1041");
    FreeLibrary(module);
}

// ---- monitoring -----------------------------------------------------------------------

void MonitorRefreshes()
{
    WriteFileBytes(LogPath(), NumberedLines(1, 3, "First"));
    Program program(ProgramPath);
    HWND main = StartShown(program);
    HWND view = program.LogView(main);
    std::string first = TextOf(view);
    CheckBytes("log view at start", CoreReport(LogPath()), first);

    // Lines written before monitoring is switched on may only show with the first tick.
    AppendFileBytes(LogPath(), NumberedLines(4, 2, "Second"));
    std::string second = CoreReport(LogPath());
    SendCommand(main, IDM_MONITOR);
    DWORD switchedOn = GetTickCount();
    Check(!WaitFor([&] { return TextOf(view) != first; }, QUIET_MS),
          "no refresh right after monitoring is switched on");
    bool refreshed = WaitFor([&] { return TextOf(view) == second; }, TICK_DEADLINE_MS);
    DWORD after = GetTickCount() - switchedOn;
    CheckBytes("log view after the first tick", second, TextOf(view));
    Check(refreshed && after >= PERIOD_MS - 500,
          "the first refresh comes about 3000 ms after switching on (came after " +
              std::to_string(after) + " ms)");

    // An emptied log gives an empty report, which leaves the view as it was.
    WriteFileBytes(LogPath(), "");
    Pause(PERIOD_MS + 1500);
    CheckBytes("log view after the log was emptied", second, TextOf(view));
    Check(ErrorBoxes(program).empty(), "an emptied log shows no box");

    // Monitoring went on meanwhile: new lines show, numbered from 001 again.
    WriteFileBytes(LogPath(), NumberedLines(7, 2, "Third"));
    std::string third = CoreReport(LogPath());
    Require(third.compare(0, 5, "001. ") == 0, "a fresh build numbers from 001");
    Check(WaitFor([&] { return TextOf(view) == third; }, TICK_DEADLINE_MS),
          "refreshes go on after the log was emptied");

    // Switched off: no more refreshes.
    SendCommand(main, IDM_MONITOR);
    AppendFileBytes(LogPath(), NumberedLines(9, 1, "Fourth"));
    std::string fourth = CoreReport(LogPath());
    Pause(PERIOD_MS + 1500);
    CheckBytes("log view with monitoring off", third, TextOf(view));

    // And on again.
    SendCommand(main, IDM_MONITOR);
    Check(WaitFor([&] { return TextOf(view) == fourth; }, TICK_DEADLINE_MS),
          "monitoring switched on again refreshes");
}

void MonitorLogDeleted()
{
    WriteFileBytes(LogPath(), NumberedLines(1, 2, "Kept"));
    Program program(ProgramPath);
    HWND main = StartShown(program);
    HWND view = program.LogView(main);
    std::string kept = TextOf(view);
    SendCommand(main, IDM_MONITOR);
    RemoveFile(LogPath());

    HWND box = program.WaitDialog(ERROR_CAPTION, TICK_DEADLINE_MS);
    CheckBox(ReadBox(box), CannotOpenText(), main, BoxIcon::Error);
    // The timer waits for the box: over two periods, never a second box.
    size_t most = 0;
    WaitFor([&] {
        most = std::max(most, ErrorBoxes(program).size());
        return false;
    }, 2 * PERIOD_MS + 1000);
    CheckNumber("error boxes at the same time, at most", 1, (long long)most);
    CheckBytes("log view keeps its text", kept, TextOf(view));

    DismissBox(program, box);
    box = program.WaitDialog(ERROR_CAPTION, TICK_DEADLINE_MS);  // the next tick fails again
    WriteFileBytes(LogPath(), NumberedLines(3, 2, "Back"));
    std::string back = CoreReport(LogPath());
    DismissBox(program, box);
    Check(WaitFor([&] { return TextOf(view) == back; }, TICK_DEADLINE_MS),
          "the view shows the log again once it is back");
    Check(ErrorBoxes(program).empty(), "no box once the log is back");
}

// The driver keeps its log open for writing while the program reads it, and may stand in
// the middle of a line: the program shares the file and shows the line as far as it goes.
void MonitorLogHeldOpen()
{
    WriteFileBytes(LogPath(), NumberedLines(1, 2, "Open"));
    HANDLE driver = CreateFileA(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    Require(driver != INVALID_HANDLE_VALUE, "the log opens for appending, as the driver holds it");
    struct Closer {
        HANDLE file;
        ~Closer() { CloseHandle(file); }
    } closer{driver};
    auto driverWrites = [&](const std::string& bytes) {
        DWORD written = 0;
        Require(WriteFile(driver, bytes.data(), (DWORD)bytes.size(), &written, nullptr) &&
                    written == bytes.size(),
                "the driver's write");
    };

    Program program(ProgramPath);
    HWND main = StartShown(program);
    HWND view = program.LogView(main);
    CheckBytes("log view at start, log held open", CoreReport(LogPath()), TextOf(view));

    driverWrites("0003.Half written,0x4E4E4F43");
    const std::string partial = CoreReport(LogPath());
    SendCommand(main, IDM_MONITOR);
    Check(WaitFor([&] { return TextOf(view) == partial; }, TICK_DEADLINE_MS),
          "a refresh shows the unfinished last line as far as it goes");
    CheckBytes("log view with the unfinished line", partial, TextOf(view));

    driverWrites(",0x00000010\r\n");
    const std::string whole = CoreReport(LogPath());
    const std::string finished = "003. 0003\r\n          Half written  CONN (00000010)\r\n";
    Require(whole.size() >= finished.size() &&
                whole.compare(whole.size() - finished.size(), finished.size(), finished) == 0,
            "the core's report ends with the finished line");
    Check(WaitFor([&] { return TextOf(view) == whole; }, TICK_DEADLINE_MS),
          "the next refresh shows the line once the driver has finished it");
    CheckBytes("log view with the finished line", whole, TextOf(view));
    Check(ErrorBoxes(program).empty(), "no box while the driver holds the log open");
}

// A WM_COMMAND with a command id in its low word but a non-zero high word does nothing.
void CommandWithNotificationCode()
{
    WriteFileBytes(LogPath(), NumberedLines(1, 2, "Before"));
    Program program(ProgramPath);
    HWND main = StartShown(program);
    HWND view = program.LogView(main);
    std::string before = TextOf(view);
    AppendFileBytes(LogPath(), NumberedLines(3, 1, "After"));

    // Sent, so each has been handled when its send returns; one that opened a dialog would
    // hold its send and fail the case.
    for (WPARAM id : {IDM_SAVE, IDM_MONITOR, IDM_EXIT, IDM_ABOUT, IDM_CAUSE})
        SendCommand(main, MAKEWPARAM(id, 1));
    Pause(PERIOD_MS + 1500);
    Require(program.Running(), "the program still runs");
    for (HWND window : TopLevelWindows(program.Id()))
        Check(window == main || !IsWindowVisible(window),
              "no window besides the main one opened (found " + Shown(CaptionOf(window)) + ")");
    CheckBytes("log view unchanged (monitoring stayed off)", before, TextOf(view));
}

// ---- save -----------------------------------------------------------------------------

const char SAVE_DIR[] = "C:\\e2e";

std::string SavePath(const char* name) { return std::string(SAVE_DIR) + "\\" + name; }

// The file name field of the Save dialog: an edit, or the edit inside a combo box.
HWND FileNameField(HWND dialog)
{
    const int ids[] = {0x47C /* cmb13 */, 0x480 /* edt1 */};
    for (int id : ids) {
        HWND field = GetDlgItem(dialog, id);
        if (!field) continue;
        if (ClassOf(field) == "ComboBox" || ClassOf(field) == "ComboBoxEx32") {
            HWND edit = FindWindowExA(field, nullptr, "Edit", nullptr);
            if (!edit) edit = FindWindowExA(FindWindowExA(field, nullptr, "ComboBox", nullptr), nullptr, "Edit", nullptr);
            if (edit) return edit;
            continue;
        }
        return field;
    }
    Fail("the Save dialog has a file name field");
    return nullptr;
}

HWND OpenSaveDialog(Program& program, HWND main)
{
    PostCommand(main, IDM_SAVE);
    HWND dialog = program.WaitDialog(SAVE_TITLE, UI_MS);
    Check(GetWindow(dialog, GW_OWNER) == main, "the Save dialog is owned by the main window");
    return dialog;
}

// Types `path` into the Save dialog, presses Save and answers Yes to each question the
// dialog asks before it closes. Returns the texts of those questions.
std::vector<std::string> SaveAs(Program& program, HWND dialog, const std::string& path)
{
    SetTextOf(FileNameField(dialog), path);
    PostCommand(dialog, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    std::vector<std::string> questions;
    std::vector<HWND> answered;
    bool closed = WaitFor([&] {
        for (HWND box : TopLevelWindows(program.Id())) {
            // A box counts once it is shown, when all its controls exist.
            if (box == dialog || ClassOf(box) != "#32770" || !IsWindowVisible(box) ||
                !GetDlgItem(box, IDYES))
                continue;
            if (std::find(answered.begin(), answered.end(), box) != answered.end()) continue;
            questions.push_back(DialogItemText(box, 0xFFFF));
            answered.push_back(box);
            PostCommand(box, MAKEWPARAM(IDYES, BN_CLICKED), (LPARAM)GetDlgItem(box, IDYES));
        }
        return !IsWindow(dialog);
    }, UI_MS);
    Require(closed, "the Save dialog closes after Save is pressed");
    return questions;
}

void PrepareSaveFolder()
{
    CreateDirectoryA(SAVE_DIR, nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(SAVE_DIR) + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) RemoveFile(SavePath(found.cFileName));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The saved file, read once it holds `expected`: the program writes it after its Save dialog
// has gone, so reading at once could race the write. Whatever it holds at the deadline
// otherwise, "(missing)" when there is no such file.
std::string SavedBytes(const std::string& path, const std::string& expected)
{
    std::string bytes;
    WaitFor([&] { return ReadFileBytes(path, &bytes) && bytes == expected; }, UI_MS);
    if (!ReadFileBytes(path, &bytes)) bytes = "(missing)";
    return bytes;
}

void CheckNoErrorBox(Program& program, HWND main)
{
    RequireAnswers(main);
    for (HWND box : ErrorBoxes(program)) {
        Check(false, "unexpected error box: " + Shown(ReadBox(box).text));
        DismissBox(program, box);
    }
}

void SaveWritesReport()
{
    PrepareSaveFolder();
    WriteFileBytes(LogPath(), RICH_LOG);
    Program program(ProgramPath);
    HWND main = StartShown(program);
    std::string shown = TextOf(program.LogView(main));

    HWND dialog = OpenSaveDialog(program, main);
    HWND filter = GetDlgItem(dialog, 0x470 /* cmb1, the file types */);
    if (Check(filter != nullptr, "the Save dialog has a file type list"))
        CheckBytes("file type shown", "Text File (*.txt)", TextOf(filter));
    // Added to the log after the view was filled: Save reads the log afresh.
    AppendFileBytes(LogPath(), "\n0016.added,0x44434241\n");
    std::string path = SavePath("saved");
    std::vector<std::string> questions = SaveAs(program, dialog, path);
    // Windows asks whether to create the file; Wine's Save dialog asks nothing here.
    for (const std::string& question : questions) Note("asked before creating: " + Shown(question));

    // Without an extension the name is saved with .txt.
    std::string bytes = SavedBytes(path + ".txt", CoreReport(LogPath()));
    CheckBytes("saved file", CoreReport(LogPath()), bytes);
    CheckNoErrorBox(program, main);
    Check(bytes.size() > shown.size() && bytes.compare(0, shown.size(), shown) == 0,
          "the saved report starts with what the view showed and has the added record");
    Check(bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0,
          "the saved file ends with CR LF, no NUL");
    Check(!FileExists(path), "no file without the extension");
}

void SaveOverLongerFile()
{
    PrepareSaveFolder();
    WriteFileBytes(LogPath(), NumberedLines(1, 2, "Short"));
    std::string path = SavePath("old.txt");
    WriteFileBytes(path, std::string(5000, 'X'));
    Program program(ProgramPath);
    HWND main = StartShown(program);
    std::vector<std::string> questions = SaveAs(program, OpenSaveDialog(program, main), path);
    CheckNumber("questions before overwriting (replace?)", 1, (long long)questions.size());
    const std::string expected = CoreReport(LogPath());
    CheckBytes("saved file, old content cut off", expected, SavedBytes(path, expected));
    CheckNoErrorBox(program, main);
}

void SaveEmptyReport()
{
    PrepareSaveFolder();
    WriteFileBytes(LogPath(), "noperiod\r\na.nocomma\n");
    std::string path = SavePath("empty.txt");
    WriteFileBytes(path, "old content\r\n");
    Program program(ProgramPath);
    HWND main = StartShown(program);
    SaveAs(program, OpenSaveDialog(program, main), path);
    CheckBytes("file saved from an empty report", "", SavedBytes(path, ""));
    CheckNoErrorBox(program, main);
}

// The run script prepares this file read-only; for root, whom Wine lets write read-only
// files, it also makes the Unix file immutable.
const char LOCKED_TARGET[] = "C:\\e2e-locked\\locked.txt";
const char LOCKED_CONTENT[] = "locked content\r\n";

void SaveReadOnlyTarget()
{
    PrepareSaveFolder();
    WriteFileBytes(LogPath(), RICH_LOG);
    std::string before;
    Require(ReadFileBytes(LOCKED_TARGET, &before) && before == LOCKED_CONTENT,
            std::string("the run script prepared ") + LOCKED_TARGET);
    SetFileAttributesA(LOCKED_TARGET, FILE_ATTRIBUTE_READONLY);
    HANDLE probe = CreateFileA(LOCKED_TARGET, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
    Require(probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED,
            "the prepared target refuses writing with access denied");

    Program program(ProgramPath);
    HWND main = StartShown(program);
    for (const std::string& question : SaveAs(program, OpenSaveDialog(program, main), LOCKED_TARGET))
        Note("asked before saving: " + Shown(question));
    HWND box = program.WaitDialog(ERROR_CAPTION, UI_MS);
    CheckBox(ReadBox(box), "ファイルオープン エラー 5\n", main, BoxIcon::Warning);
    DismissBox(program, box);
    std::string after;
    ReadFileBytes(LOCKED_TARGET, &after);
    CheckBytes("read-only target unchanged", LOCKED_CONTENT, after);
}

void SaveCancelled()
{
    PrepareSaveFolder();
    WriteFileBytes(LogPath(), RICH_LOG);
    std::string path = SavePath("kept.txt");
    WriteFileBytes(path, "kept\r\n");
    Program program(ProgramPath);
    HWND main = StartShown(program);
    HWND dialog = OpenSaveDialog(program, main);
    SetTextOf(FileNameField(dialog), path);
    PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    Require(program.WaitGone(dialog, UI_MS), "the Save dialog closes on Cancel");
    CheckNoErrorBox(program, main);
    std::string bytes;
    ReadFileBytes(path, &bytes);
    CheckBytes("file named before Cancel unchanged", "kept\r\n", bytes);
}

void SaveWithoutLog()
{
    PrepareSaveFolder();
    WriteFileBytes(LogPath(), RICH_LOG);
    Program program(ProgramPath);
    HWND main = StartShown(program);
    RemoveFile(LogPath());
    std::string path = SavePath("never.txt");
    SaveAs(program, OpenSaveDialog(program, main), path);
    HWND box = program.WaitDialog(ERROR_CAPTION, UI_MS);
    CheckBox(ReadBox(box), "ファイル " + LogPath() + " が作成できません\n", main, BoxIcon::Error);
    DismissBox(program, box);
    Check(!FileExists(path), "the chosen file is not created");
}

// The monitor stops for the whole Save and restarts its period when Save returns.
void SavePausesMonitoring()
{
    PrepareSaveFolder();
    WriteFileBytes(LogPath(), NumberedLines(1, 2, "Before"));
    Program program(ProgramPath);
    HWND main = StartShown(program);
    HWND view = program.LogView(main);
    std::string before = TextOf(view);
    SendCommand(main, IDM_MONITOR);
    HWND dialog = OpenSaveDialog(program, main);
    AppendFileBytes(LogPath(), NumberedLines(3, 1, "During"));
    std::string during = CoreReport(LogPath());
    Pause(PERIOD_MS + 1500);
    CheckBytes("no refresh while the Save dialog is open", before, TextOf(view));
    PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    Require(program.WaitGone(dialog, UI_MS), "the Save dialog closes on Cancel");
    DWORD closed = GetTickCount();
    bool refreshed = WaitFor([&] { return TextOf(view) == during; }, TICK_DEADLINE_MS);
    DWORD after = GetTickCount() - closed;
    Check(refreshed, "monitoring goes on after a cancelled Save");
    Check(!refreshed || after >= PERIOD_MS - 500,
          "the next refresh comes about 3000 ms after Save (came after " + std::to_string(after) + " ms)");

    // A Save that writes its file restarts the monitor too.
    dialog = OpenSaveDialog(program, main);
    AppendFileBytes(LogPath(), NumberedLines(4, 1, "Saved"));
    const std::string saved = CoreReport(LogPath());
    const std::string path = SavePath("monitored.txt");
    SaveAs(program, dialog, path);
    CheckBytes("file saved while monitoring", saved, SavedBytes(path, saved));
    Check(WaitFor([&] { return TextOf(view) == saved; }, TICK_DEADLINE_MS),
          "monitoring goes on after a successful Save");
}

// ---- cause lookup ---------------------------------------------------------------------

HWND OpenCauseDialog(Program& program, HWND main)
{
    PostCommand(main, IDM_CAUSE);
    HWND dialog = program.WaitDialog(CAUSE_TITLE, UI_MS);
    Check(GetWindow(dialog, GW_OWNER) == main, "the lookup dialog is owned by the main window");
    return dialog;
}

// Types `entry`, presses Enter, reads the answer, dismisses it; the dialog must close then.
std::string LookUp(Program& program, HWND main, const std::string& entry)
{
    HWND dialog = OpenCauseDialog(program, main);
    HWND field = GetDlgItem(dialog, IDC_CODE);
    Require(field != nullptr, "the lookup dialog has the code field 155");
    Check(FocusOf(dialog) == field, "the code field has the focus");
    SetTextOf(field, entry);
    PressKey(field, VK_RETURN);
    HWND box = program.WaitDialog(CAUSE_CAPTION, UI_MS);
    BoxSeen seen = ReadBox(box);
    Check(seen.owner == dialog, "the answer box is owned by the lookup dialog");
    Check(seen.icon == BoxIcon::Warning,
          std::string("answer box icon: expected warning, got ") + BoxIconName(seen.icon));
    // A dialog already ended is hidden at once, though not yet destroyed.
    Check(IsWindowVisible(dialog), "the dialog stays shown while the answer is shown");
    DismissBox(program, box);
    Check(program.WaitGone(dialog, UI_MS), "the dialog closes once the answer is dismissed");
    return seen.text;
}

void CauseMessages()
{
    struct Lookup { const char* entry; const char* message; };
    const Lookup cases[] = {
        {"10", "理由表示 : 正常切断"},
        {"  0x1f", "理由表示 : その他の正常クラス"},
        {"1F zz", "理由表示 : その他の正常クラス"},
        {"ff00", "理由表示 : サポートしていないボードタイプ(CfgErr:00)"},
        {"FFFF", "理由表示 : 不明な理由コード"},
        {"4", "未定義理由表示 : CODE=0004h"},
        {"1001F", "未定義理由表示 : CODE=1001Fh"},
        {"123456789", "未定義理由表示 : CODE=23456789h"},
        {"-1", "未定義理由表示 : CODE=FFFFFFFFh"},
        // No number: the catalogue's own "unknown cause" row.
        {"zz", "理由表示 : 不明な理由コード"},
        {"", "理由表示 : 不明な理由コード"},
        {"0x", "理由表示 : 不明な理由コード"},
    };
    WriteFileBytes(LogPath(), RICH_LOG);
    Program program(ProgramPath);
    HWND main = StartShown(program);
    for (const Lookup& c : cases)
        CheckBytes(std::string("answer for ") + Shown(c.entry), c.message, LookUp(program, main, c.entry));
}

void CauseEntryKept()
{
    WriteFileBytes(LogPath(), RICH_LOG);
    Program program(ProgramPath);
    HWND main = StartShown(program);

    HWND dialog = OpenCauseDialog(program, main);
    CheckBytes("field at the first opening", "", DialogItemText(dialog, IDC_CODE));
    PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    Require(program.WaitGone(dialog, UI_MS), "Cancel closes the dialog");

    CheckBytes("answer for 10", "理由表示 : 正常切断", LookUp(program, main, "10"));

    // Cancel, Esc and the close box all keep the last confirmed entry.
    struct Closing { const char* how; };
    const Closing closings[] = {{"Cancel"}, {"Esc"}, {"close box"}};
    for (const Closing& closing : closings) {
        dialog = OpenCauseDialog(program, main);
        CheckBytes(std::string("field before ") + closing.how, "10", DialogItemText(dialog, IDC_CODE));
        HWND field = GetDlgItem(dialog, IDC_CODE);
        SetTextOf(field, "33");
        if (std::strcmp(closing.how, "Cancel") == 0)
            PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
        else if (std::strcmp(closing.how, "Esc") == 0)
            PressKey(field, VK_ESCAPE);
        else
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        Require(program.WaitGone(dialog, UI_MS), std::string(closing.how) + " closes the dialog");
        Check(DialogsCaptioned(program.Id(), CAUSE_CAPTION).empty(),
              std::string(closing.how) + " shows no answer");
    }
    dialog = OpenCauseDialog(program, main);
    CheckBytes("field after the closings", "10", DialogItemText(dialog, IDC_CODE));
    PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    Require(program.WaitGone(dialog, UI_MS), "Cancel closes the dialog");

    // 40 characters: only the first 29 are read. Those give 0x10; all 40 would give 0.
    const std::string first29 = std::string(27, '0') + "10";
    const std::string entry = first29 + "00000000000";
    Require(entry.size() == 40, "the long entry has 40 characters");
    CheckBytes("answer for a 40-character entry", "理由表示 : 正常切断", LookUp(program, main, entry));
    dialog = OpenCauseDialog(program, main);
    CheckBytes("field after a 40-character entry", first29, DialogItemText(dialog, IDC_CODE));
    PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    Require(program.WaitGone(dialog, UI_MS), "Cancel closes the dialog");
}

// With the lookup dialog open, monitoring goes on behind it.
void CauseDialogKeepsMonitoring()
{
    WriteFileBytes(LogPath(), NumberedLines(1, 2, "Before"));
    Program program(ProgramPath);
    HWND main = StartShown(program);
    HWND view = program.LogView(main);
    SendCommand(main, IDM_MONITOR);
    HWND dialog = OpenCauseDialog(program, main);
    AppendFileBytes(LogPath(), NumberedLines(3, 1, "Behind"));
    std::string behind = CoreReport(LogPath());
    Check(WaitFor([&] { return TextOf(view) == behind; }, TICK_DEADLINE_MS),
          "the view refreshes while the lookup dialog is open");
    PostCommand(dialog, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    Require(program.WaitGone(dialog, UI_MS), "Cancel closes the dialog");
}

// ---- About, Exit ----------------------------------------------------------------------

void AboutBox()
{
    WriteFileBytes(LogPath(), RICH_LOG);
    Program program(ProgramPath);
    HWND main = StartShown(program);
    const char* ways[] = {"OK button", "Enter", "Esc"};
    for (const char* way : ways) {
        PostCommand(main, IDM_ABOUT);
        HWND about = program.WaitDialog(ABOUT_TITLE, UI_MS);
        Check(GetWindow(about, GW_OWNER) == main, "the About box is owned by the main window");
        HWND ok = GetDlgItem(about, IDOK);
        Require(ok != nullptr, "the About box has an OK button");
        CheckBytes("OK button text", "OK", TextOf(ok));
        HWND first = FindWindowExA(about, nullptr, "Static", nullptr);
        Require(first != nullptr, "the About box has texts");
        CheckBytes("first About text", " NDIS ログ情報表示  ", TextOf(first));
        HWND second = FindWindowExA(about, first, "Static", nullptr);
        if (Check(second != nullptr, "the About box has a second text"))
            CheckBytes("second About text", "     Version 1.03   ", TextOf(second));
        if (std::strcmp(way, "OK button") == 0) {
            PostMessageA(ok, BM_CLICK, 0, 0);
        } else {
            Check(FocusOf(about) == ok, "the OK button has the focus");
            PressKey(ok, std::strcmp(way, "Enter") == 0 ? VK_RETURN : VK_ESCAPE);
        }
        Check(program.WaitGone(about, UI_MS), std::string("the About box closes by ") + way);
        Require(program.Running(), "the program still runs");
    }
}

// How the user ends the program: all ways end it with exit code 0.
void EndBy(UINT message, WPARAM wParam)
{
    WriteFileBytes(LogPath(), RICH_LOG);
    Program program(ProgramPath);
    HWND main = StartShown(program);
    Require(PostMessageA(main, message, wParam, 0) != 0, "post the closing message");
    CheckNumber("exit code", 0, (long long)program.WaitExit(UI_MS));
}

void ExitFromMenu() { EndBy(WM_COMMAND, IDM_EXIT); }
void CloseBox() { EndBy(WM_CLOSE, 0); }
void CloseFromSystemMenu() { EndBy(WM_SYSCOMMAND, SC_CLOSE); }

const std::map<std::string, void (*)()> CASES = {
    {"start_shows_report", StartShowsReport},
    {"start_shows_large_report", StartShowsLargeReport},
    {"start_without_log", StartWithoutLog},
    {"two_copies_run", TwoCopiesRun},
    {"start_with_empty_report", StartWithEmptyReport},
    {"resources_are_japanese", ResourcesAreJapanese},
    {"monitor_refreshes", MonitorRefreshes},
    {"monitor_log_deleted", MonitorLogDeleted},
    {"monitor_log_held_open", MonitorLogHeldOpen},
    {"command_with_notification_code", CommandWithNotificationCode},
    {"save_writes_report", SaveWritesReport},
    {"save_over_longer_file", SaveOverLongerFile},
    {"save_empty_report", SaveEmptyReport},
    {"save_read_only_target", SaveReadOnlyTarget},
    {"save_cancelled", SaveCancelled},
    {"save_without_log", SaveWithoutLog},
    {"save_pauses_monitoring", SavePausesMonitoring},
    {"cause_messages", CauseMessages},
    {"cause_entry_kept", CauseEntryKept},
    {"cause_dialog_keeps_monitoring", CauseDialogKeepsMonitoring},
    {"about_box", AboutBox},
    {"exit_from_menu", ExitFromMenu},
    {"close_box", CloseBox},
    {"close_from_system_menu", CloseFromSystemMenu},
};

// A case that hangs somewhere despite its deadlines still ends: the watchdog ends the
// whole driver, and with it (kill-on-close job) the program.
DWORD WINAPI Watchdog(LPVOID)
{
    Sleep(CASE_DEADLINE_MS);
    std::printf("FAILED: the case did not finish within %lu ms\n", (unsigned long)CASE_DEADLINE_MS);
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const auto& entry : CASES) std::printf("%s\n", entry.first.c_str());
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: e2e_driver <ndislogview.exe> <case> | --list\n");
        return 2;
    }
    auto found = CASES.find(argv[2]);
    if (found == CASES.end()) {
        std::fprintf(stderr, "unknown case %s\n", argv[2]);
        return 2;
    }
    if (GetACP() != 932) {
        std::printf("FAILED: the ANSI code page is %u, not 932: run under a Japanese locale "
                    "(LC_ALL=ja_JP.UTF-8)\n", GetACP());
        return 1;
    }
    ProgramPath = argv[1];

    // Every process the case starts belongs to this job and ends with the driver.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job) {
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        AssignProcessToJobObject(job, GetCurrentProcess());
    }
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);

    std::printf("case %s\n", argv[2]);
    try {
        found->second();
    } catch (const CaseAborted&) {
        // already reported
    }
    int failures = FailureCount();
    std::printf("%s: %d failure(s)\n", argv[2], failures);
    return failures == 0 ? 0 : 1;
}
