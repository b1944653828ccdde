// Where the companion's notices (the `ndislog: ` lines) go: standard error, unless a sink such
// as the service's event log takes them instead.
#pragma once

#include <string_view>

#include "log_stream.h"

// How grave a notice is: what ended the work, what it goes on despite, what is back to normal.
enum class NoticeKind { Error, Warning, Information };

// Takes one notice line, ending in a line feed, as it would be printed.
using NoticeSink = void (*)(NoticeKind kind, std::string_view line);

// Sends every later notice to `sink` instead of standard error; nullptr restores standard error.
void SetNoticeSink(NoticeSink sink);

// Tells one notice line, ending in a line feed, where notices go now.
void TellNotice(NoticeKind kind, std::string_view line);

// How grave a notice about the log or the state file is while following: following goes on
// after all of them but a log that cannot be followed and memory running out.
NoticeKind KindOfNotice(Notice notice);
