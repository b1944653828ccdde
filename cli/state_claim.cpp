// Claiming the state file: its files compared with the log by identity, then a lock on a
// file that stays, since STATE itself is replaced by a rename at every save.
#include "state_claim.h"

#include <cerrno>
#include <cstring>

#include "follow_state.h"
#include "notices.h"

namespace {

// True when the file at `path` is the log: by identity where both exist, by name otherwise.
bool IsTheLogFile(const std::string& path, const std::string& logPath, const FileIdentity* log)
{
    FileIdentity identity;
    if (log && IdentifyFile(path, &identity))
        return identity == *log;
    return path == logPath;
}

}  // namespace

bool NamesTheSameFile(const std::string& path, const std::string& other)
{
    FileIdentity identity;
    return IsTheLogFile(path, other, IdentifyFile(other, &identity) ? &identity : nullptr);
}

StateClaim::StateClaim(const std::string& statePath, const std::string& logPath)
{
    FileIdentity log;
    const bool logThere = IdentifyFile(logPath, &log);
    for (const char* suffix : {"", STATE_TEMPORARY_SUFFIX, STATE_LOCK_SUFFIX}) {
        const std::string path = statePath + suffix;
        if (IsTheLogFile(path, logPath, logThere ? &log : nullptr)) {
            result_ = StateClaimResult::IsTheLog;
            problem_ = NoticeLine("--state " + statePath + " would overwrite the log " + logPath +
                                  (*suffix ? " (" + path + " is the log)" : std::string()) + "; name another file");
            return;
        }
    }
    const std::string lockPath = statePath + STATE_LOCK_SUFFIX;
    switch (LockExclusively(lockPath, &lock_)) {
    case LockResult::Taken:
        break;
    case LockResult::Busy:
        result_ = StateClaimResult::InUse;
        problem_ = NoticeLine(statePath + " is in use by another ndislog");
        break;
    case LockResult::Failed:
        result_ = StateClaimResult::Unlocked;
        problem_ = NoticeLine("cannot lock " + lockPath + " (" + std::strerror(errno) +
                              "); following goes on without it");
        break;
    }
}

StateClaim::~StateClaim()
{
    if (result_ == StateClaimResult::Claimed)
        ReleaseLock(lock_);
}
