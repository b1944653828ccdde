// The command line of the companion: `report` and `cause`, with a handful of options.
#include "command_line.h"

#include <string>

namespace {

Invocation BadUsage(const std::string& problem)
{
    Invocation invocation;
    invocation.command = Command::Usage;
    invocation.problem = problem;
    return invocation;
}

// Asking for help wins over anything else on the line.
Invocation Help()
{
    Invocation invocation;
    invocation.command = Command::Help;
    return invocation;
}

bool IsHelp(const std::string& argument)
{
    return argument == "--help" || argument == "-h";
}

// Reads a whole decimal number of milliseconds within the allowed range.
bool ReadInterval(const std::string& text, int* milliseconds)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int value = 0;
    for (const char digit : text)
        value = value * 10 + (digit - '0');
    if (value < FOLLOW_INTERVAL_MIN_MS || value > FOLLOW_INTERVAL_MAX_MS)
        return false;
    *milliseconds = value;
    return true;
}

Invocation ParseReport(const std::vector<std::string>& arguments, bool fileRequired)
{
    Invocation invocation;
    invocation.command = Command::Report;
    bool optionsEnded = false;
    int files = 0;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool looksLikeOption = !optionsEnded && argument.size() > 1 && argument[0] == '-';
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (looksLikeOption && IsHelp(argument)) {
            return Help();
        } else if (looksLikeOption && argument == "--follow") {
            invocation.follow = true;
        } else if (looksLikeOption && argument == "--utf8") {
            invocation.utf8 = true;
        } else if (looksLikeOption && argument == "--json") {
            invocation.json = true;
        } else if (looksLikeOption && argument == "--state") {
            if (++i == arguments.size())
                return BadUsage("--state needs a FILE");
            invocation.stateFile = arguments[i];
        } else if (looksLikeOption && argument == "--interval") {
            if (++i == arguments.size() || !ReadInterval(arguments[i], &invocation.intervalMs))
                return BadUsage("--interval needs milliseconds, " + std::to_string(FOLLOW_INTERVAL_MIN_MS) +
                                " to " + std::to_string(FOLLOW_INTERVAL_MAX_MS));
        } else if (looksLikeOption) {
            return BadUsage("unknown option " + argument);
        } else {
            invocation.file = argument;
            ++files;
        }
    }
    if (files > 1)
        return BadUsage("more than one FILE");
    if (files == 0 && fileRequired)
        return BadUsage("FILE missing");
    if (!invocation.follow && (!invocation.stateFile.empty() || invocation.intervalMs != FOLLOW_INTERVAL_MS))
        return BadUsage("--state and --interval go with --follow");
    if (invocation.follow && invocation.file == "-")
        return BadUsage("standard input cannot be followed");
    return invocation;
}

Invocation ParseCause(const std::vector<std::string>& arguments)
{
    Invocation invocation;
    invocation.command = Command::Cause;
    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded) {
            invocation.codes.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (IsHelp(argument)) {
            return Help();
        } else if (argument == "--english") {
            invocation.english = true;
        } else if (argument == "--utf8") {
            invocation.utf8 = true;
        } else if (argument == "--json") {
            invocation.json = true;
        } else if (argument == "--list") {
            invocation.list = true;
        } else if (argument.rfind("--", 0) == 0) {
            return BadUsage("unknown option " + argument);
        } else {
            // A code may start with '-' or '+': the lookup reads "-1" as FFFFFFFF.
            invocation.codes.push_back(argument);
        }
    }
    if (invocation.list && !invocation.codes.empty())
        return BadUsage("--list takes no CODE");
    if (!invocation.list && invocation.codes.empty())
        return BadUsage("CODE missing");
    return invocation;
}

}  // namespace

Invocation ParseCommandLine(const std::vector<std::string>& arguments, bool fileRequired)
{
    if (arguments.empty())
        return BadUsage("command missing");
    const std::string& command = arguments[0];
    if (IsHelp(command))
        return Help();
    if (command == "report")
        return ParseReport(arguments, fileRequired);
    if (command == "cause")
        return ParseCause(arguments);
    return BadUsage("unknown command " + command);
}

const char* UsageText()
{
    return "usage: ndislog report [--utf8] [--json] [FILE]\n"
           "       ndislog report --follow [--utf8] [--json] [--state STATE] [--interval MS] [FILE]\n"
           "       ndislog cause [--english] [--utf8] [--json] CODE...\n"
           "       ndislog cause --list [--english] [--utf8] [--json]\n"
           "  report   print the numbered log report of the driver log FILE\n"
           "           (on Windows FILE defaults to ndislog.txt in the Windows directory;\n"
           "           - reads the log from standard input)\n"
           "  --follow read what the log gains every 3 seconds and print new records, each\n"
           "           once its line is complete; Ctrl-C ends after saving the place\n"
           "  --state  keep the place in file STATE and go on from it when started again\n"
           "  --interval  read the log every MS milliseconds (100 to 3600000; 3000)\n"
           "  cause    print the message for each hexadecimal cause CODE\n"
           "  --list   print the whole cause catalogue, code and text, in its order\n"
           "  --english  catalogue texts in English\n"
           "  --utf8   convert the output from code page 932 to UTF-8\n"
           "  --json   one JSON object per record or code, a line each, in UTF-8\n"
           "exit status: 0 done; 1 the log could not be opened or read, or the output not\n"
           "written (the report is printed as it is read: after a read error what was\n"
           "printed is incomplete); 2 bad usage\n";
}
