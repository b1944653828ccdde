// The sending side of RELP, rsyslog's Reliable Event Logging Protocol: plain-text frames
//   TXNR SP COMMAND SP DATALEN [SP DATA] LF
// over TCP, each command answered by an "rsp" frame with the same transaction number. Records
// go as "syslog" commands, a window of them on the way before the first answer is awaited.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "socket_connection.h"

// Transaction numbers run from 1 to this, then start again at 1.
constexpr uint32_t RELP_TXNR_MAX = 999999999;
// The longest answer taken from the centre; a longer one is no RELP answer of ours.
constexpr size_t RELP_ANSWER_MAX = 16 * 1024;

uint32_t NextRelpTxnr(uint32_t txnr);

struct RelpFrame {
    uint32_t txnr = 0;
    std::string command;
    std::string data;
};

// Appends the frame of `command` with `data` to `out`.
void AppendRelpFrame(uint32_t txnr, std::string_view command, std::string_view data, std::string* out);

enum class FrameParse {
    Complete,    // `*frame` holds the first frame, `*length` bytes long
    Incomplete,  // the bytes so far may begin a frame: wait for more
    Malformed,   // the bytes cannot begin a frame, or announce data over RELP_ANSWER_MAX
};

// Reads the frame at the start of `bytes`.
FrameParse ParseRelpFrame(std::string_view bytes, RelpFrame* frame, size_t* length);

// The status code that begins an "rsp" frame's data ("200 OK"), or -1 when it has none.
int RelpResponseCode(std::string_view data);

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

// Splits "HOST:PORT" (PORT 1 to 65535); false when `text` is not of that form.
bool ParseHostPort(std::string_view text, std::string* host, uint16_t* port);

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
    // Takes the first frame off the bytes received so far, when it is whole.
    FrameParse TakeFrame(RelpFrame* frame);
    // Receives until a whole frame has arrived.
    bool AwaitFrame(RelpFrame* frame, int timeoutMs);

    std::string host_;
    uint16_t port_;
    std::string syslogHost_;
    TcpConnection connection_;
    std::string received_;  // bytes from the centre not yet read as frames
    uint32_t txnr_ = 0;     // the last transaction number used
    RelpFailure failure_ = RelpFailure::None;
    int rejectedCode_ = 0;
    std::string confirmed_;  // the records of a failed piece that the centre did take
    int connectTimeoutMs_ = 10000;
    int answerTimeoutMs_ = 10000;
};
