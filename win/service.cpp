// `ndislog service`: the companion registered with the service manager, started with the
// machine, restarted after a failure, and run by it with its notices in the event log.
#include <windows.h>

#include <cstdio>
#include <string>

#include "event_log.h"
#include "notices.h"
#include "platform.h"
#include "service_command.h"

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;

// What the stop announces it may take: the current line, saving the place, and up to a
// second for the centre's answers to the records on their way.
constexpr DWORD STOP_WAIT_HINT_MS = 5000;
// How long uninstall waits for the service to stop before removing it anyway.
constexpr int UNINSTALL_STOP_WAIT_MS = 30000;
constexpr int UNINSTALL_POLL_MS = 100;
// The service manager starts the companion again this long after each failure.
constexpr DWORD RESTART_DELAY_MS = 60 * 1000;
constexpr DWORD FAILURE_COUNT_RESET_S = 24 * 60 * 60;

constexpr char DESCRIPTION[] =
    "Follows the ISDN adapter's NDIS driver log (ndislog.txt) and ships every record as JSON over RELP to "
    "the central rsyslog, going on where it stopped after a restart.";

// Closes a service manager or service handle when it goes out of scope.
class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle()
    {
        if (handle_)
            CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    operator SC_HANDLE() const { return handle_; }

private:
    SC_HANDLE handle_;
};

std::string SystemMessage(DWORD error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text ? std::string(text, length) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.'))
        message.pop_back();
    return "error " + std::to_string(error) + (message.empty() ? std::string() : ": " + message);
}

// Why a service manager call failed, in the user's terms.
std::string Reason(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "administrator rights are needed (run it from an administrator's command prompt)";
    case ERROR_SERVICE_EXISTS:
    case ERROR_DUPLICATE_SERVICE_NAME:
        return "a service of that name exists already";
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return "there is no such service";
    case ERROR_ALREADY_EXISTS:
        return "another program's event source has that name; choose another with --name";
    }
    return SystemMessage(error);
}

int Failed(NoticeChannel& notices, const std::string& what, const std::string& name, const std::string& reason)
{
    notices.Tell(NoticeType::Error, NoticeLine("cannot " + what + " the service " + name + ": " + reason));
    return EXIT_FAILED;
}

void Say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string ProgramPath()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The text Event Viewer and the Services console show, and a restart a minute after every
// failure. Windows Vista and later also count an exit with an error as a failure; Windows
// 2000 to 2003 reject that setting and restart only after a crash.
bool Configure(SC_HANDLE service)
{
    SERVICE_DESCRIPTIONA description = {const_cast<char*>(DESCRIPTION)};
    SC_ACTION restarts[3] = {{SC_ACTION_RESTART, RESTART_DELAY_MS},
                             {SC_ACTION_RESTART, RESTART_DELAY_MS},
                             {SC_ACTION_RESTART, RESTART_DELAY_MS}};
    SERVICE_FAILURE_ACTIONSA recovery = {};
    recovery.dwResetPeriod = FAILURE_COUNT_RESET_S;
    recovery.cActions = 3;
    recovery.lpsaActions = restarts;
    if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description) ||
        !ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &recovery))
        return false;
    SERVICE_FAILURE_ACTIONS_FLAG alsoExitCodes = {TRUE};
    ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &alsoExitCodes);
    return true;
}

// Nothing half-registered stays behind: a service whose setup failed goes again.
int RemoveAgain(NoticeChannel& notices, SC_HANDLE service, const std::string& name, DWORD error)
{
    DeleteService(service);
    return Failed(notices, "install", name, Reason(error));
}

int Install(const ServiceRequest& request, NoticeChannel& notices)
{
    const std::string program = ProgramPath();
    const std::string commandLine = ServiceCommandLine(program, request);
    const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return Failed(notices, "install", request.name, Reason(GetLastError()));
    const std::string displayName = "NDIS log shipper (" + request.name + ")";
    const ServiceHandle service(CreateServiceA(
        manager, request.name.c_str(), displayName.c_str(), SERVICE_CHANGE_CONFIG | DELETE, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr, nullptr,
        request.account.empty() ? nullptr : request.account.c_str(),
        request.account.empty() ? nullptr : request.password.c_str()));
    if (!service)
        return Failed(notices, "install", request.name, Reason(GetLastError()));
    if (!Configure(service))
        return RemoveAgain(notices, service, request.name, GetLastError());
    long sourceError = 0;
    if (!AddEventLogSource(request.name, program, &sourceError))
        return RemoveAgain(notices, service, request.name, static_cast<DWORD>(sourceError));
    Say("installed the service " + request.name + " (starts with Windows as " +
        (request.account.empty() ? std::string("LocalSystem") : request.account) +
        ", restarted a minute after a failure, notices to the Application log): " + commandLine);
    return EXIT_DONE;
}

// True when `service` runs an ndislog companion, so that uninstall never removes another one.
bool RunsTheCompanion(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceConfigA(service, nullptr, 0, &needed);
    std::string buffer(needed, '\0');
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (needed == 0 || !QueryServiceConfigA(service, config, needed, &needed) || !config->lpBinaryPathName)
        return false;
    return std::string(config->lpBinaryPathName).find("\" service run --name ") != std::string::npos;
}

// Asks a running service to stop and waits for it; true once it has stopped.
bool StopAndWait(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status))
        return false;
    if (status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING)
        ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int waited = 0; waited < UNINSTALL_STOP_WAIT_MS; waited += UNINSTALL_POLL_MS) {
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == SERVICE_STOPPED)
            return true;
        Sleep(UNINSTALL_POLL_MS);
    }
    return false;
}

int Uninstall(const ServiceRequest& request, NoticeChannel& notices)
{
    const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return Failed(notices, "remove", request.name, Reason(GetLastError()));
    const ServiceHandle service(OpenServiceA(manager, request.name.c_str(),
                                             SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE));
    if (!service)
        return Failed(notices, "remove", request.name, Reason(GetLastError()));
    if (!RunsTheCompanion(service))
        return Failed(notices, "remove", request.name, "it does not run ndislog; nothing was changed");
    const bool stopped = StopAndWait(service);
    if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return Failed(notices, "remove", request.name, Reason(GetLastError()));
    RemoveEventLogSource(request.name);
    Say("removed the service " + request.name + " and its event source" +
        (stopped ? std::string() : "; it did not stop in time and goes once it stops"));
    return EXIT_DONE;
}

// --- Being the service: what the service manager starts.

const ServiceRequest* Request = nullptr;
const ServiceFollowing* Following = nullptr;
SERVICE_STATUS_HANDLE StatusHandle = nullptr;
CRITICAL_SECTION StatusLock;
SERVICE_STATUS Status = {};

void SetState(DWORD state, DWORD waitHintMs)
{
    EnterCriticalSection(&StatusLock);
    if (Status.dwCurrentState != SERVICE_STOPPED) {
        Status.dwCurrentState = state;
        Status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        Status.dwWaitHint = waitHintMs;
        Status.dwCheckPoint = waitHintMs > 0 ? Status.dwCheckPoint + 1 : 0;
        SetServiceStatus(StatusHandle, &Status);
    }
    LeaveCriticalSection(&StatusLock);
}

// The exit code tells the service manager a failure (and so a restart) from a stop.
void SetStopped(int exitCode)
{
    EnterCriticalSection(&StatusLock);
    Status.dwCurrentState = SERVICE_STOPPED;
    Status.dwControlsAccepted = 0;
    Status.dwWaitHint = 0;
    Status.dwCheckPoint = 0;
    Status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    Status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
    SetServiceStatus(StatusHandle, &Status);
    LeaveCriticalSection(&StatusLock);
}

void WINAPI OnControl(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        SetState(SERVICE_STOP_PENDING, STOP_WAIT_HINT_MS);
        RequestStop();
    } else if (control == SERVICE_CONTROL_INTERROGATE) {
        EnterCriticalSection(&StatusLock);
        SetServiceStatus(StatusHandle, &Status);
        LeaveCriticalSection(&StatusLock);
    }
}

void WINAPI ServiceMain(DWORD, char**)
{
    StatusHandle = RegisterServiceCtrlHandlerA(Request->name.c_str(), OnControl);
    if (!StatusHandle)
        return;
    Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    SetState(SERVICE_RUNNING, 0);
    int exitCode = EXIT_FAILED;
    {
        EventLogChannel events(Request->name);
        exitCode = (*Following)(events);
    }
    SetStopped(exitCode);
}

// The service manager's stop and shutdown controls end the service; the console events a
// service process also receives (a user logging off) must not.
BOOL WINAPI IgnoreConsoleEvents(DWORD)
{
    return TRUE;
}

int Run(const ServiceRequest& request, const ServiceFollowing& following, NoticeChannel& notices)
{
    Request = &request;
    Following = &following;
    InitializeCriticalSection(&StatusLock);
    SetConsoleCtrlHandler(IgnoreConsoleEvents, TRUE);
    SERVICE_TABLE_ENTRYA services[] = {{const_cast<char*>(request.name.c_str()), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(services)) {
        const DWORD error = GetLastError();
        SetConsoleCtrlHandler(IgnoreConsoleEvents, FALSE);
        if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
            return Failed(notices, "run", request.name, "service run is for the service manager; from a console run report --follow");
        return Failed(notices, "run", request.name, Reason(error));
    }
    return Status.dwWin32ExitCode == NO_ERROR ? EXIT_DONE : static_cast<int>(Status.dwServiceSpecificExitCode);
}

}  // namespace

int RunServiceCommand(const ServiceRequest& request, const ServiceFollowing& following, NoticeChannel& notices)
{
    switch (request.action) {
    case ServiceAction::Install:
        return Install(request, notices);
    case ServiceAction::Uninstall:
        return Uninstall(request, notices);
    case ServiceAction::Run:
        return Run(request, following, notices);
    case ServiceAction::BadUsage:
        break;
    }
    return EXIT_FAILED;
}
