// The sending side of RELP (see relp_frame.h) over TCP: records go as "syslog" commands, a
// window of them on the way before the first answer is awaited.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "relp_frame.h"
#include "socket_connection.h"

// A record sent and not yet answered: its transaction number, where it ends in the piece,
// and how many bytes the centre had sent before it went, none of which can answer it.
struct RecordOnTheWay {
    uint32_t txnr;
    size_t end;
    uint64_t sentAfter;
    bool confirmed;
};

// Why a delivery failed.
enum class RelpFailure {
    None,
    Unresolved,  // the centre's host name is not known
    Refused,     // nobody takes connections at the centre's address
    TimedOut,    // no connection or no answer in time
    Dropped,     // the centre closed the connection, also in the middle of a frame
    Rejected,    // the centre answered with a code other than 200, or does not take syslog
    Garbage,     // the centre answered something that is no RELP answer to what was sent
    Stopped,     // a stop was asked for, and the centre did not answer within the grace
};

// A few words on `failure` for a notice: "connection refused".
std::string RelpFailureText(RelpFailure failure, int rejectedCode);

// One RELP session to the centre at a time, opened when records are to go and kept open.
class RelpSender {
public:
    // `syslogHost` is the HOSTNAME of every message (see SyslogHostName).
    RelpSender(std::string host, uint16_t port, std::string syslogHost)
        : host_(std::move(host)), port_(port), syslogHost_(std::move(syslogHost))
    {
    }
    ~RelpSender() { Close(); }

    // Sends every line of `piece` (whole JSON lines, each ending in LF) as the MSG of one
    // syslog message, opening a session first when none is open. True only when the centre
    // answered 200 to every record. On false, Failure() says why and the connection is
    // dropped; the records the centre confirmed before the failure are remembered (never
    // more than this piece), and a next piece that begins with them does not send them again.
    bool Deliver(std::string_view piece);

    RelpFailure Failure() const { return failure_; }
    // The code of the last non-200 answer; 0 when the centre did not offer "syslog".
    int RejectedCode() const { return rejectedCode_; }

    // Ends an open session with "close" and waits briefly for its answer.
    void Close();

    void SetStopCheck(StopCheck stop) { connection_.SetStopCheck(stop); }
    void SetTimeouts(int connectMs, int answerMs)
    {
        connectTimeoutMs_ = connectMs;
        answerTimeoutMs_ = answerMs;
    }

    // Records on the way before the sender waits for answers. Their answers (about 3 KiB at
    // most) fit the smallest receive buffer, Windows 2000's 8 KiB, so the centre never blocks
    // on answers the sender is not yet reading while the sender blocks on sending.
    static constexpr size_t WINDOW = 128;

private:
    bool Open();
    // Sends the records of `piece` from `*confirmed` on and moves `*confirmed` past every
    // record taken, in order; false on the first failure.
    bool SendRecords(std::string_view piece, size_t* confirmed);
    bool Fail(RelpFailure failure);
    bool FailOn(NetResult result);
    // Takes the first frame off the bytes received so far, when it is whole; `*start` is
    // where it began in the session's bytes (see received_).
    FrameParse TakeFrame(RelpFrame* frame, uint64_t* start = nullptr);
    // Receives until the bytes received begin with a whole (or a malformed) frame, at the
    // latest until `deadlineMs` (MonotonicMs): a centre trickling bytes gains no time.
    bool AwaitWholeFrame(int64_t deadlineMs);
    bool AwaitFrame(RelpFrame* frame, int64_t deadlineMs);
    // Takes every answer here and whatever else has arrived, moving `*confirmed` past the
    // records taken in order; false on the first answer that is no 200 to a record sent.
    bool TakeArrivedAnswers(std::deque<RecordOnTheWay>* onTheWay, size_t* confirmed);
    // Forgets the bytes received and not yet read.
    void DropReceived();

    std::string host_;
    uint16_t port_;
    std::string syslogHost_;
    TcpConnection connection_;
    std::string received_;  // bytes from the centre not yet read as frames
    uint64_t consumed_ = 0; // bytes from the centre before received_, since the sender began
    uint32_t txnr_ = 0;     // the last transaction number used
    RelpFailure failure_ = RelpFailure::None;
    int rejectedCode_ = 0;
    std::string confirmed_;  // the records of a failed piece that the centre did take
    int connectTimeoutMs_ = 10000;
    int answerTimeoutMs_ = 10000;
};
