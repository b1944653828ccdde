// Reads `ndislog service ...`: installing, removing and running the companion as a Windows
// service. Parsed and checked here, on every platform, before anything is registered.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

// The service's name unless --name gives another.
constexpr char DEFAULT_SERVICE_NAME[] = "ndislog";

enum class ServiceAction {
    Install,    // register the service that runs the report options given after "--"
    Uninstall,  // stop it and remove it with its event source
    Run,        // be the service: what the service manager starts
    BadUsage,   // `problem` says what was wrong
};

struct ServiceRequest {
    ServiceAction action = ServiceAction::BadUsage;
    std::string name = DEFAULT_SERVICE_NAME;
    std::string account;                      // empty: LocalSystem
    std::string password;                     // only with an account
    std::vector<std::string> reportArguments; // what follows "--": `report --follow ...`
    Invocation report;                        // those arguments parsed, for Install and Run
    std::string problem;                      // for ServiceAction::BadUsage
};

// Parses the arguments after "service". Install and Run need, after "--", a `report --follow
// --json --relp HOST:PORT --state STATE` command line that the companion's own parser accepts,
// with STATE and any FILE as absolute Windows paths: a service has no standard output, starts
// in the system folder and must go on where it stopped after every restart.
ServiceRequest ParseServiceCommand(const std::vector<std::string>& arguments);

// The command line the service manager runs: `program` quoted, then `service run --name NAME
// -- ` and the report arguments, each quoted as the C runtime splits them again.
std::string ServiceCommandLine(const std::string& program, const ServiceRequest& request);

// `argument` as one argument of a Windows command line: unchanged when it needs nothing,
// otherwise in quotes with the backslashes before a quote doubled.
std::string QuoteWindowsArgument(const std::string& argument);
