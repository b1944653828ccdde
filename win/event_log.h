// The Application event log as the home of the service's notices.
#pragma once

#include <string>

#include "notices.h"

// Registers the event source `name` for the program at `program`, whose message table gives
// Event Viewer the text; false with the system's error code in `*error` when it cannot, and
// ERROR_ALREADY_EXISTS, nothing changed, when the source belongs to another program.
bool AddEventLogSource(const std::string& name, const std::string& program, long* error);

// Removes the event source `name`; true also when there was none.
bool RemoveEventLogSource(const std::string& name);

// Notices to the Application log as the source `name`, one event each, filed under its type;
// to standard error while the log cannot be opened.
class EventLogChannel final : public NoticeChannel {
public:
    explicit EventLogChannel(const std::string& name);
    ~EventLogChannel() override;
    EventLogChannel(const EventLogChannel&) = delete;
    EventLogChannel& operator=(const EventLogChannel&) = delete;

    void Tell(NoticeType type, std::string_view lines) override;

private:
    void* source_;  // the event source's HANDLE; null when it could not be registered
    StandardErrorChannel standardError_;
};
