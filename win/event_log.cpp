// The service has no console: its notices go to the Application log, one event each, with
// the notice's line as the one insertion string of the message for its type.
#include "event_log.h"

#include <windows.h>

#include <string>

#include "ndislog_messages.h"

namespace {

constexpr char APPLICATION_SOURCES[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

bool SameTextIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] | 0x20) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] | 0x20) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// A source that was there before is taken over only when it names this very program (a
// service installed again), never another program's, whose events would lose their text.
bool BelongsTo(HKEY source, const std::string& program)
{
    char file[MAX_PATH * 2] = {};
    DWORD size = sizeof file - 1;
    DWORD type = 0;
    return RegQueryValueExA(source, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file), &size) ==
               ERROR_SUCCESS &&
           SameTextIgnoringCase(file, program);
}

}  // namespace

bool AddEventLogSource(const std::string& name, const std::string& program, long* error)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    *error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (APPLICATION_SOURCES + name).c_str(), 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, &disposition);
    if (*error != ERROR_SUCCESS)
        return false;
    if (disposition == REG_OPENED_EXISTING_KEY && !BelongsTo(key, program)) {
        RegCloseKey(key);
        *error = ERROR_ALREADY_EXISTS;
        return false;
    }
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    *error = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                            static_cast<DWORD>(program.size() + 1));
    if (*error == ERROR_SUCCESS)
        *error = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                sizeof types);
    RegCloseKey(key);
    return *error == ERROR_SUCCESS;
}

bool RemoveEventLogSource(const std::string& name)
{
    const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, (APPLICATION_SOURCES + name).c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

EventLogChannel::EventLogChannel(const std::string& name) : source_(RegisterEventSourceA(nullptr, name.c_str())) {}

EventLogChannel::~EventLogChannel()
{
    if (source_)
        DeregisterEventSource(source_);
}

void EventLogChannel::Tell(NoticeType type, std::string_view lines)
{
    if (!source_) {
        standardError_.Tell(type, lines);
        return;
    }
    std::string text(lines);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const char* strings[] = {text.c_str()};
    WORD eventType = EVENTLOG_ERROR_TYPE;
    DWORD message = MSG_NOTICE_ERROR;
    if (type == NoticeType::Warning) {
        eventType = EVENTLOG_WARNING_TYPE;
        message = MSG_NOTICE_WARNING;
    } else if (type == NoticeType::Information) {
        eventType = EVENTLOG_INFORMATION_TYPE;
        message = MSG_NOTICE_INFORMATION;
    }
    ReportEventA(source_, eventType, 0, message, nullptr, 1, 0, strings, nullptr);
}
