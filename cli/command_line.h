// Reads the companion's command line into what it is asked to do, without acting on it.
#pragma once

#include <string>
#include <vector>

#include "host_port.h"

enum class Command {
    Help,    // usage on standard output, exit 0
    Report,  // the log report of one file, once or followed
    Cause,   // the lookup message of each code
    BadUsage,  // usage on standard error after what was wrong, exit 2
};

// How often the log is read again while following, unless the user says otherwise.
constexpr int FOLLOW_INTERVAL_MS = 3000;
constexpr int FOLLOW_INTERVAL_MIN_MS = 100;
constexpr int FOLLOW_INTERVAL_MAX_MS = 3600 * 1000;

struct Invocation {
    Command command = Command::BadUsage;
    bool follow = false;
    bool utf8 = false;
    bool english = false;
    bool json = false;  // JSON Lines, always UTF-8
    bool list = false;  // cause: the whole catalogue instead of codes
    int intervalMs = FOLLOW_INTERVAL_MS;
    bool intervalGiven = false;      // --interval was given, whatever its value
    std::string stateFile;           // --state: empty: none
    std::string outputFile;          // --output: empty: standard output
    bool relp = false;               // --relp: records go to the centre at relpTarget
    HostPort relpTarget;
    std::string file;                // empty: none given
    std::vector<std::string> codes;  // as typed, not yet cut
    std::string problem;             // for Command::BadUsage: what was wrong, in a few words
};

// Parses the arguments after the program name. `fileRequired` is false where the program
// knows a default log (Windows). Options may stand anywhere; "--" ends them. Whatever else
// starts with '-' is an option too, so an unknown one is bad usage and a code such as "-1"
// must follow "--". `cause --list` takes no code.
Invocation ParseCommandLine(const std::vector<std::string>& arguments, bool fileRequired);

// The short usage text, ASCII, ending in a line feed.
const char* UsageText();
