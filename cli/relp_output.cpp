// The log is the buffer: a piece the centre did not take is not held here but read again
// from the log at a later reading, so an outage of any length costs no memory.
#include "relp_output.h"

#include <algorithm>

#include "syslog_message.h"

namespace {

constexpr int FIRST_PAUSE_MS = 1000;
constexpr int LONGEST_PAUSE_MS = 30000;

}  // namespace

int ReconnectPauseMs(int failuresInARow)
{
    int pause = FIRST_PAUSE_MS;
    for (int failure = 1; failure < failuresInARow && pause < LONGEST_PAUSE_MS; ++failure)
        pause *= 2;
    return std::min(pause, LONGEST_PAUSE_MS);
}

RelpOutput::RelpOutput(const HostPort& target, const std::string& machineName, OutputSink& notices,
                       NoticeChannel& channel, StopCheck stop)
    : target_(target.text),
      sender_(target.host, target.port, SyslogHostName(machineName)),
      notices_(notices),
      channel_(channel)
{
    sender_.SetStopCheck(stop);
}

bool RelpOutput::Write(std::string_view bytes)
{
    // A clock set back (the runtime's clock may be the wall clock) never stretches a pause.
    const int64_t now = MonotonicMs();
    if (failuresInARow_ > 0 && now < nextAttemptMs_ && nextAttemptMs_ - now <= LONGEST_PAUSE_MS)
        return false;
    if (sender_.Deliver(bytes)) {
        if (announced_ != 0)
            channel_.Tell(NoticeType::Information, DeliveringAgainText(target_));
        announced_ = 0;
        failuresInARow_ = 0;
        return true;
    }
    const RelpFailure failure = sender_.Failure();
    if (failure == RelpFailure::Stopped)
        return false;  // not the centre's fault: the next start goes on from the saved place
    const unsigned bit = 1u << static_cast<unsigned>(failure);
    if ((announced_ & bit) == 0)
        channel_.Tell(NoticeType::Warning, CannotDeliverText(target_, RelpFailureText(failure, sender_.RejectedCode())));
    announced_ |= bit;
    ++failuresInARow_;
    nextAttemptMs_ = MonotonicMs() + ReconnectPauseMs(failuresInARow_);
    return false;
}
