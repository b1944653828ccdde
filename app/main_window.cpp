// Start-up, the main window with its log view, the monitor timer and the menu commands.
#include <windows.h>

#include "about_dialog.h"
#include "cause_dialog.h"
#include "driver_log_path.h"
#include "error_box.h"
#include "log_report.h"
#include "program_texts.h"
#include "resource.h"
#include "save_log.h"

namespace {

// The one timer; used one-shot and re-armed after each refresh, so builds never overlap.
constexpr UINT_PTR MONITOR_TIMER_ID = 1;
constexpr UINT MONITOR_PERIOD_MS = 3000;

constexpr int MAIN_WINDOW_WIDTH = 600;
constexpr int MAIN_WINDOW_HEIGHT = 400;

// CS_HREDRAW | CS_BYTEALIGNWINDOW: the view is placed anew on every size change.
constexpr UINT MAIN_CLASS_STYLE = CS_HREDRAW | CS_BYTEALIGNWINDOW;
static_assert(MAIN_CLASS_STYLE == 0x2002);

// A read-only, scrollable, multi-line edit without a border that fills the client area.
constexpr DWORD LOG_VIEW_STYLE = WS_CHILD | WS_VISIBLE | WS_MAXIMIZE | WS_VSCROLL | WS_HSCROLL |
                                 ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                                 ES_READONLY;
static_assert(LOG_VIEW_STYLE == 0x513008C4);

// The view's top edge lies one pixel above the client area.
constexpr int LOG_VIEW_TOP = -1;

// Tools, tests and scripts find the main window by its class name: it must never change.
constexpr char MAIN_CLASS_NAME[] = "Tarveno";
constexpr char MAIN_CAPTION[] = "NDIS ログ情報表示";
constexpr char ICON_NAME[] = "TARVENO";
constexpr char MENU_NAME[] = "IsdnMenu";

HINSTANCE AppInstance;
// The full path of the driver log, built once at start-up and kept for the whole run.
char* LogFilePath;
HWND LogViewWindow;
HMENU MainMenu;
int MonitoringOn;

// Reads the log afresh and puts its report into `view`. Failures are shown in message
// boxes owned by `owner`; the view then keeps its text (or shows a partial report).
void RefreshLogView(HWND owner, HWND view)
{
    LogReport report;
    switch (BuildLogReport(LogFilePath, &report)) {
    case REPORT_CANNOT_OPEN:
        ShowFormattedErrorBox(owner, MB_ICONERROR, "%s%s\n", CANNOT_OPEN_TEXT, LogFilePath);
        break;
    case REPORT_NO_MEMORY:
        ShowErrorBox(owner, NO_MEMORY_TEXT, MB_ICONWARNING);
        // A failed growth step hands over every numbered line that fitted.
        if (report.text != nullptr) {
            SendMessageA(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(report.text));
            ReleaseLogReport(&report);
        }
        break;
    case REPORT_OK:
        // An empty report leaves the view showing what it showed.
        if (report.length != 0)
            SendMessageA(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(report.text));
        ReleaseLogReport(&report);
        break;
    }
}

LRESULT OnCreate(HWND window)
{
    LogViewWindow = CreateWindowExA(0, "edit", "", LOG_VIEW_STYLE, 0, 0, 0, 0, window, nullptr,
                                    AppInstance, nullptr);
    if (LogViewWindow == nullptr)
        return -1;
    MainMenu = GetMenu(window);
    if (MainMenu == nullptr)
        return -1;
    SendMessageA(LogViewWindow, WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FIXED_FONT)), 0);
    // The first fill happens before the window is shown, message boxes included.
    RefreshLogView(window, LogViewWindow);
    MonitoringOn = 0;
    return 0;
}

LRESULT OnSize(int width, int height)
{
    MoveWindow(LogViewWindow, 0, LOG_VIEW_TOP, width, height, TRUE);
    return 0;
}

LRESULT OnMonitorTick(HWND window)
{
    // Killed first: a refresh's message box runs a message loop of its own, and no
    // second tick may start a refresh while it is open.
    KillTimer(window, MONITOR_TIMER_ID);
    if (MonitoringOn == 0)
        return 0;
    RefreshLogView(window, LogViewWindow);
    SetTimer(window, MONITOR_TIMER_ID, MONITOR_PERIOD_MS, nullptr);
    return 0;
}

void OnSave(HWND window)
{
    // No refresh while the Save dialog is open or the file is written.
    if (MonitoringOn)
        KillTimer(window, MONITOR_TIMER_ID);
    SaveLogAs(window, LogFilePath);
    if (MonitoringOn)
        SetTimer(window, MONITOR_TIMER_ID, MONITOR_PERIOD_MS, nullptr);
}

void OnMonitor(HWND window)
{
    MonitoringOn ^= 1;
    if (MonitoringOn) {
        CheckMenuItem(MainMenu, IDM_MONITOR, MF_BYCOMMAND | MF_CHECKED);
        SetTimer(window, MONITOR_TIMER_ID, MONITOR_PERIOD_MS, nullptr);
    } else {
        CheckMenuItem(MainMenu, IDM_MONITOR, MF_BYCOMMAND | MF_UNCHECKED);
        KillTimer(window, MONITOR_TIMER_ID);
    }
}

LRESULT OnCommand(HWND window, WPARAM wParam)
{
    // The whole wParam: a notification code in the high word never counts as a command.
    switch (wParam) {
    case IDM_SAVE:
        OnSave(window);
        break;
    case IDM_MONITOR:
        OnMonitor(window);
        break;
    case IDM_EXIT:
        // The loop ends at the quit message; the process takes the window with it.
        PostQuitMessage(0);
        break;
    case IDM_ABOUT:
        OpenAboutBox(AppInstance, window);
        break;
    case IDM_CAUSE:
        OpenCauseDialog(AppInstance, window);
        break;
    default:
        break;
    }
    return 0;
}

LRESULT OnDestroy(HWND window)
{
    KillTimer(window, MONITOR_TIMER_ID);
    PostQuitMessage(0);
    return 0;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_SIZE:
        return OnSize(LOWORD(lParam), HIWORD(lParam));
    case WM_SETFOCUS:
        SetFocus(LogViewWindow);
        return 0;
    case WM_DESTROY:
        return OnDestroy(window);
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_TIMER:
        return OnMonitorTick(window);
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool RegisterMainClass()
{
    // A braced list runs in order: the icon is loaded before the cursor.
    const WNDCLASSA windowClass = {
        .style = MAIN_CLASS_STYLE, .lpfnWndProc = MainWndProc, .cbClsExtra = 0, .cbWndExtra = 0,
        .hInstance = AppInstance, .hIcon = LoadIconA(AppInstance, ICON_NAME),
        .hCursor = LoadCursorA(nullptr, IDC_ARROW),
        .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1),
        .lpszMenuName = MENU_NAME, .lpszClassName = MAIN_CLASS_NAME};
    return RegisterClassA(&windowClass) != 0;
}

bool BuildLogFilePath()
{
    LogFilePath = NewDriverLogPath();
    return LogFilePath != nullptr;
}

// WM_CREATE makes the log view and fills it before this returns.
HWND CreateMainWindow()
{
    return CreateWindowExA(0, MAIN_CLASS_NAME, MAIN_CAPTION, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT, nullptr, nullptr,
                           AppInstance, nullptr);
}

// Runs until the quit message and returns its code.
int RunMessageLoop()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

// Every start-up failure ends the program silently with 0.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    AppInstance = instance;
    if (!RegisterMainClass() || !BuildLogFilePath())
        return 0;
    HWND window = CreateMainWindow();
    if (window == nullptr)
        return 0;
    // The launcher's show command is not used.
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return RunMessageLoop();
}
