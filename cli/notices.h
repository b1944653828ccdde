// What the companion tells the user besides its output, and the one channel every such line
// goes through.
#pragma once

#include <string>
#include <string_view>

// What the companion may have to tell about the log or its saved place.
enum class Notice {
    CannotOpen,      // the log could not be opened
    CannotRead,      // the log was opened, but reading it failed
    ReportCutShort,  // reading failed after part of the report had been written
    NoMemory,        // memory ran out
    Restarted,       // the log shrank or was rewritten; numbering begins again at 001
    NotFollowable,   // the log is no regular file (a pipe, a device): it cannot be followed
    StateUnreadable, // the saved place could not be read, or was damaged; starting afresh
    StateUnwritable, // the saved place could not be written; nothing more goes out until it is
    StateSavedAgain, // the place is saved again after StateUnwritable; following goes on
};

// How grave a notice is: what ended the work, what it goes on despite, what is back to normal.
// An event log files each notice under its type.
enum class NoticeType { Error, Warning, Information };

// The type of a notice about the log or its saved place: following goes on after all of them
// but a log that cannot be followed, a report cut short and memory running out.
NoticeType NoticeTypeOf(Notice notice);

// The text of a notice about the log at `path` (or the state file, for the state notices).
// Program texts are code page 932, converted with `utf8`; the path is printed as it was given
// (converted from the ANSI code page with `utf8` where arguments come in one).
std::string NoticeText(Notice notice, const std::string& path, int error, bool utf8);

// The texts of the other notices, each a whole line.
std::string BadUsageText(std::string_view problem);                    // usage text follows it
std::string CannotWriteOutputText(std::string_view output, int error);  // "standard output" or FILE failed
std::string CannotOpenOutputText(std::string_view path, int error);    // --output FILE
std::string CannotDeliverText(std::string_view target, std::string_view reason);  // RELP centre away
std::string DeliveringAgainText(std::string_view target);              // RELP centre back
// A notice in the companion's own words: "ndislog: ", `words`, a line end.
std::string NoticeLine(std::string_view words);

// Where every notice goes. Standard error by default; a program without a console (a service)
// puts another channel, such as the event log, in its place.
class NoticeChannel {
public:
    virtual ~NoticeChannel() = default;
    // Takes one notice of `type`: whole lines, each ending in LF, passed on at once.
    virtual void Tell(NoticeType type, std::string_view lines) = 0;
};

// Notices to standard error, flushed line by line; their type shows in their words alone.
class StandardErrorChannel final : public NoticeChannel {
public:
    void Tell(NoticeType type, std::string_view lines) override;
};
