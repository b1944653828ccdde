// The state file claimed by one follower: never one whose saving would overwrite the log,
// never one that another follower holds.
#pragma once

#include <string>

#include "platform.h"

enum class StateClaimResult {
    Claimed,   // STATE.lock is held for as long as the claim lives
    IsTheLog,  // STATE, STATE.new or STATE.lock is the log: saving would destroy it
    InUse,     // another follower holds STATE.lock
    Unlocked,  // STATE.lock could not be made or locked; following may go on unguarded
};

// True when `path` and `other` name the same file: by any name or link where both are
// there, by the same name otherwise.
bool NamesTheSameFile(const std::string& path, const std::string& other);

class StateClaim {
public:
    // Refuses `statePath` when it, the STATE.new that saving truncates or the STATE.lock
    // beside it is the log at `logPath` (the same file by any name or link; the same name
    // while the log is not there), and otherwise locks STATE.lock, created if missing.
    StateClaim(const std::string& statePath, const std::string& logPath);
    ~StateClaim();
    StateClaim(const StateClaim&) = delete;
    StateClaim& operator=(const StateClaim&) = delete;

    StateClaimResult Result() const { return result_; }
    // The line that tells the user what stands in the way; empty when Claimed.
    const std::string& Problem() const { return problem_; }

private:
    StateClaimResult result_ = StateClaimResult::Claimed;
    std::string problem_;
    LockHandle lock_ = 0;
};
