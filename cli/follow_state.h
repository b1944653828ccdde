// The follower's place in the log, kept in a small text file so that a companion started
// again (after a stop, a kill or a reboot) goes on where it stopped.
#pragma once

#include <cstdint>
#include <string>

// FNV-1a, 64 bits: the same fingerprint from every build on every platform, so that a state
// file written on one machine is understood on another.
constexpr uint64_t FINGERPRINT_START = 0xCBF29CE484222325u;
uint64_t Fingerprint(uint64_t fingerprint, const char* bytes, size_t length);

// A stretch of the log read once, to be known again: where it starts and ends, and the
// fingerprint of the bytes the line reader delivered for it.
struct LineMark {
    int64_t start = 0;
    int64_t end = 0;
    uint64_t fingerprint = FINGERPRINT_START;
    bool operator==(const LineMark&) const = default;
};

// What has been printed of the log.
struct FollowPlace {
    std::string generation;  // 16 hex digits; new whenever numbering starts at 001
    int64_t offset = 0;      // where the next reading starts
    int64_t nextRecord = 1;
    bool lineOpen = false;   // `offset` lies inside a line whose earlier pieces were printed
    LineMark first;          // the log's first line, up to `offset` at most
    LineMark last;           // the line that ends at `offset` (or that holds it, when open)
    // The fingerprint of every byte the line reader delivered from the log's start up to
    // `offset`; unknown in a state file of version 1 until the stretch is read once.
    uint64_t stretch = FINGERPRINT_START;
    bool stretchKnown = true;
    bool operator==(const FollowPlace&) const = default;
};

// Beside the state file: the temporary file each save writes before its rename, and the file
// locked while a follower holds the state.
constexpr char STATE_TEMPORARY_SUFFIX[] = ".new";
constexpr char STATE_LOCK_SUFFIX[] = ".lock";

// A new generation id, unlike any other this machine makes: 16 lower-case hex digits.
std::string NewGeneration();

// The file's text (version 2), and the place read back from such a text (version 1 or 2);
// false when the text is no state file, is damaged (every line counts, a check line ends it)
// or holds a place no follower writes.
std::string StateText(const FollowPlace& place);
bool ParseStateText(const std::string& text, FollowPlace* place);

enum class StateLoad { Loaded, Missing, Unusable };

// Reads the place saved at `path`. `*error` is the system's error number when reading failed.
StateLoad LoadFollowState(const std::string& path, FollowPlace* place, int* error);

// Saves `place` at `path` so that a crash at any moment leaves either the old or the new
// file whole: written to `path`.new (truncated first), flushed to the disk, renamed over `path`. False with
// `*error` set when that failed.
bool SaveFollowState(const std::string& path, const FollowPlace& place, int* error);
