// The follower's output when the records go to the centre over RELP instead of standard output.
// (No <chrono> here: the files that include this one are compiled for code page 932.)
#pragma once

#include <cstdint>
#include <string>

#include "host_port.h"
#include "notices.h"
#include "output_sink.h"
#include "relp_sender.h"

// After `failuresInARow` failed attempts the next waits this long: 1 s, doubling, at most 30 s.
int ReconnectPauseMs(int failuresInARow);

class RelpOutput final : public OutputSink {
public:
    // Sends to `target` as the machine `machineName`. Notices about the log go on to
    // `notices`; those about the centre go to `channel`. `stop`, when given, ends any wait
    // for the centre.
    RelpOutput(const HostPort& target, const std::string& machineName, OutputSink& notices, NoticeChannel& channel,
               StopCheck stop);

    // Delivers the piece; true only when the centre took every record. A failure is told
    // once per kind until a delivery succeeds again, which is told too. After a failure the
    // next attempt waits ReconnectPauseMs; a Write before that returns false at once. The
    // caller keeps its place and offers the same records again later.
    bool Write(std::string_view bytes) override;
    void Announce(Notice notice, int error) override { notices_.Announce(notice, error); }

private:
    std::string target_;
    RelpSender sender_;
    OutputSink& notices_;
    NoticeChannel& channel_;
    unsigned announced_ = 0;  // one bit per RelpFailure told since the last delivery
    int failuresInARow_ = 0;
    int64_t nextAttemptMs_ = 0;  // on the monotonic clock
};
