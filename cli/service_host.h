// What the platform does for `ndislog service`: Windows registers and runs the service,
// other systems say that the command is for Windows only.
#pragma once

#include <functional>

#include "service_command.h"

// The companion's following, as the service runs it.
struct ServiceFollowing {
    std::function<int()> follow;  // follows until a stop is asked for or it fails; the exit code
    void (*requestStop)();        // asks `follow` to end after the current line, its place saved
};

// Carries out `request` (never ServiceAction::Usage), saying what it did or why it could not;
// the exit code: 0 done, 1 failed.
int RunServiceCommand(const ServiceRequest& request, const ServiceFollowing& following);
