// The one way out for notices, so that a service can send them to the event log.
#include "notice_sink.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<NoticeSink> CurrentSink{nullptr};

}  // namespace

void SetNoticeSink(NoticeSink sink)
{
    CurrentSink = sink;
}

void TellNotice(NoticeKind kind, std::string_view line)
{
    if (const NoticeSink sink = CurrentSink) {
        sink(kind, line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

NoticeKind KindOfNotice(Notice notice)
{
    switch (notice) {
    case Notice::NoMemory:
    case Notice::NotFollowable:
    case Notice::ReportCutShort:
        return NoticeKind::Error;
    case Notice::Restarted:
        return NoticeKind::Information;
    case Notice::CannotOpen:
    case Notice::CannotRead:
    case Notice::StateUnreadable:
    case Notice::StateUnwritable:
        break;
    }
    return NoticeKind::Warning;
}
