// The `service` command line: its own options before "--", the report's after it.
#include "service_command.h"

#include <utility>

namespace {

ServiceRequest BadUsage(const std::string& problem)
{
    ServiceRequest request;
    request.problem = problem;
    return request;
}

// "C:\..." or "\\server\share\...": the service starts in the system folder, where a
// relative path would land.
bool IsAbsoluteWindowsPath(const std::string& path)
{
    const char letter = static_cast<char>(path.empty() ? 0 : path[0] | 0x20);
    const bool drive = path.size() >= 3 && letter >= 'a' && letter <= 'z' && path[1] == ':' &&
                       (path[2] == '\\' || path[2] == '/');
    const bool share = path.size() >= 3 && (path[0] == '\\' || path[0] == '/') && path[1] == path[0];
    return drive || share;
}

// What is wrong with the report options a service would run; empty when nothing is.
std::string ReportProblem(const Invocation& report)
{
    if (report.command == Command::BadUsage)
        return report.problem;
    if (report.command != Command::Report || !report.follow)
        return "a service runs report --follow";
    if (!report.relp)
        return "a service has no standard output: it needs --json --relp HOST:PORT";
    if (report.stateFile.empty())
        return "a service needs --state STATE to go on where it stopped";
    if (!IsAbsoluteWindowsPath(report.stateFile))
        return "--state needs an absolute path (C:\\...) for a service";
    if (!report.file.empty() && !IsAbsoluteWindowsPath(report.file))
        return "FILE needs an absolute path (C:\\...) for a service";
    return std::string();
}

// Reads the options before "--"; the index of the first report argument, or 0 on bad usage.
size_t TakeServiceOptions(const std::vector<std::string>& arguments, ServiceRequest* request)
{
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--")
            return i + 1;
        const bool takesValue = option == "--name" || (request->action == ServiceAction::Install &&
                                                       (option == "--account" || option == "--password"));
        if (!takesValue) {
            request->problem = "unknown option " + option;
            return 0;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].empty() || arguments[i + 1] == "--") {
            request->problem = option + " needs a value";
            return 0;
        }
        const std::string& value = arguments[++i];
        if (option == "--name")
            request->name = value;
        else if (option == "--account")
            request->account = value;
        else
            request->password = value;
    }
    return arguments.size();
}

}  // namespace

ServiceRequest ParseServiceCommand(const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        return BadUsage("service needs install, uninstall or run");
    ServiceRequest request;
    const std::string& action = arguments[0];
    if (action == "install")
        request.action = ServiceAction::Install;
    else if (action == "uninstall")
        request.action = ServiceAction::Uninstall;
    else if (action == "run")
        request.action = ServiceAction::Run;
    else
        return BadUsage("unknown service command " + action);
    const size_t reportStart = TakeServiceOptions(arguments, &request);
    if (reportStart == 0)
        return BadUsage(request.problem);
    if (!request.password.empty() && request.account.empty())
        return BadUsage("--password goes with --account");
    request.reportArguments.assign(arguments.begin() + static_cast<std::ptrdiff_t>(reportStart), arguments.end());
    if (request.action == ServiceAction::Uninstall) {
        if (!request.reportArguments.empty())
            return BadUsage("service uninstall takes no report options");
        return request;
    }
    if (request.reportArguments.empty())
        return BadUsage("the report options follow --: -- report --follow --json --relp HOST:PORT --state STATE");
    request.report = ParseCommandLine(request.reportArguments, false);
    const std::string problem = ReportProblem(request.report);
    if (!problem.empty())
        return BadUsage(problem);
    return request;
}

std::string QuoteWindowsArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each one is doubled, and the quote escaped.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string ServiceCommandLine(const std::string& program, const ServiceRequest& request)
{
    // The program is always quoted: an unquoted path with a space could start another program.
    std::string line = "\"";
    line += program;
    line += "\" service run --name ";
    line += QuoteWindowsArgument(request.name);
    line += " --";
    for (const std::string& argument : request.reportArguments) {
        line += ' ';
        line += QuoteWindowsArgument(argument);
    }
    return line;
}
