// The Application event log as the home of the service's notices.
#pragma once

#include <string>

// Registers the event source `name` for the program at `program`, whose message table gives
// Event Viewer the text; false with the system's error code in `*error` when it cannot, and
// ERROR_ALREADY_EXISTS, nothing changed, when the source belongs to another program.
bool AddEventLogSource(const std::string& name, const std::string& program, long* error);

// Removes the event source `name`; true also when there was none.
bool RemoveEventLogSource(const std::string& name);

// Sends every later notice to the Application log as the source `name`, until
// EndEventLogNotices; notices go on to standard error when the log cannot be opened.
void StartEventLogNotices(const std::string& name);
void EndEventLogNotices();
