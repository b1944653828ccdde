// The companion's notices: a short line on standard error, "ndislog: " and a few words.
#include "notices.h"

#include <cstdio>
#include <cstring>

#include "cp932_utf8.h"
#include "platform.h"
#include "program_texts.h"

namespace {

// The name as the user gave it. Where the command line arrives in an ANSI code page
// (Windows), a UTF-8 terminal needs it converted; elsewhere its bytes are the terminal's.
std::string ShownPath(const std::string& path, bool utf8)
{
    std::string shown;
    return utf8 && AppendAnsiAsUtf8(path, &shown) ? shown : path;
}

}  // namespace

std::string NoticeLine(std::string_view words)
{
    return "ndislog: " + std::string(words) + "\n";
}

NoticeType NoticeTypeOf(Notice notice)
{
    switch (notice) {
    case Notice::NoMemory:
    case Notice::NotFollowable:
    case Notice::ReportCutShort:
        return NoticeType::Error;
    case Notice::Restarted:
    case Notice::StateSavedAgain:
        return NoticeType::Information;
    case Notice::CannotOpen:
    case Notice::CannotRead:
    case Notice::StateUnreadable:
    case Notice::StateUnwritable:
        break;
    }
    return NoticeType::Warning;
}

std::string NoticeText(Notice notice, const std::string& givenPath, int error, bool utf8)
{
    const std::string path = ShownPath(givenPath, utf8);
    const std::string reason = error != 0 ? std::string(" (") + std::strerror(error) + ")" : std::string();
    switch (notice) {
    case Notice::CannotOpen:
        return CANNOT_OPEN_TEXT + path + "\n";
    case Notice::CannotRead:
        return NoticeLine("cannot read " + path + reason);
    case Notice::ReportCutShort:
        return NoticeLine("cannot read " + path + reason + "; the report above is incomplete");
    case Notice::NoMemory: {
        const std::string message = std::string(NO_MEMORY_TEXT) + "\n";
        return utf8 ? Cp932ToUtf8(message) : message;
    }
    case Notice::Restarted:
        return NoticeLine("the log is shorter than before or was rewritten; starting again from record 001");
    case Notice::NotFollowable:
        return NoticeLine("cannot follow " + path + ": not a regular file");
    case Notice::StateUnreadable:
        return NoticeLine("the saved place in " + path + reason + " cannot be used; following the log from its start");
    case Notice::StateUnwritable:
        return NoticeLine("cannot save the place in " + path + reason + "; nothing more goes out until it is saved");
    case Notice::StateSavedAgain:
        return NoticeLine("the place is saved in " + path + " again; following goes on");
    }
    return std::string();
}

std::string BadUsageText(std::string_view problem)
{
    return NoticeLine(problem);
}

std::string CannotWriteOutputText(std::string_view output, int error)
{
    return NoticeLine("cannot write " + std::string(output) + " (" + std::strerror(error) + ")");
}

std::string CannotOpenOutputText(std::string_view path, int error)
{
    return NoticeLine("cannot open " + std::string(path) + " for output (" + std::strerror(error) + ")");
}

std::string CannotDeliverText(std::string_view target, std::string_view reason)
{
    return NoticeLine("cannot deliver to " + std::string(target) + " (" + std::string(reason) + "); trying again");
}

std::string DeliveringAgainText(std::string_view target)
{
    return NoticeLine("records reach " + std::string(target) + " again");
}

void StandardErrorChannel::Tell(NoticeType, std::string_view lines)
{
    std::fwrite(lines.data(), 1, lines.size(), stderr);
    std::fflush(stderr);
}
