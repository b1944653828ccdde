// RELP framing, as rsyslog's Reliable Event Logging Protocol has it: plain-text frames
//   TXNR SP COMMAND SP DATALEN [SP DATA] LF
// each command answered by an "rsp" frame with the same transaction number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
