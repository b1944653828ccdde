// The command line of the companion: `report` and `cause`, with a handful of options.
#include "command_line.h"

#include <string>
#include <utility>

#include "digits.h"

namespace {

Invocation Refused(const std::string& problem)
{
    Invocation invocation;
    invocation.command = Command::BadUsage;
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
    uint64_t value = 0;
    if (!ReadWholeNumber(text, 10, 9, &value) || value < FOLLOW_INTERVAL_MIN_MS || value > FOLLOW_INTERVAL_MAX_MS)
        return false;
    *milliseconds = static_cast<int>(value);
    return true;
}

// Sets what an option of `report` that takes a value asks for; false when `value` does not
// do for it. True, doing nothing, for any other option.
bool TakeOptionValue(const std::string& option, const std::string* value, Invocation* invocation)
{
    if (option == "--state" && value && !value->empty())
        invocation->stateFile = *value;
    else if (option == "--output" && value && !value->empty())
        invocation->outputFile = *value;
    else if (option == "--relp" && value && ParseHostPort(*value, &invocation->relpTarget))
        invocation->relp = true;
    else if (option == "--interval" && value) {
        invocation->intervalGiven = true;
        return ReadInterval(*value, &invocation->intervalMs);
    } else
        return option != "--state" && option != "--interval" && option != "--relp" && option != "--output";
    return true;
}

bool TakesValue(const std::string& option, const Invocation& invocation)
{
    return invocation.command == Command::Report &&
           (option == "--state" || option == "--interval" || option == "--relp" || option == "--output");
}

// Sets what `option` asks for; false when the command has no such option.
bool TakeOption(const std::string& option, Invocation* invocation)
{
    const bool report = invocation->command == Command::Report;
    if (option == "--utf8")
        invocation->utf8 = true;
    else if (option == "--json")
        invocation->json = true;
    else if (report && option == "--follow")
        invocation->follow = true;
    else if (!report && option == "--english")
        invocation->english = true;
    else if (!report && option == "--list")
        invocation->list = true;
    else
        return false;
    return true;
}

// One FILE at most for `report`; CODEs for `cause`, or none with --list.
Invocation TakeOperands(Invocation invocation, std::vector<std::string> operands, bool fileRequired)
{
    if (invocation.command == Command::Report) {
        if (operands.size() > 1)
            return Refused("more than one FILE");
        if (operands.empty() && fileRequired)
            return Refused("FILE missing");
        invocation.file = operands.empty() ? std::string() : operands[0];
        if (!invocation.follow && (!invocation.stateFile.empty() || invocation.intervalGiven))
            return Refused("--state and --interval go with --follow");
        if (invocation.relp && !(invocation.follow && invocation.json))
            return Refused("--relp goes with --follow --json");
        if (invocation.relp && !invocation.outputFile.empty())
            return Refused("--output and --relp do not go together");
        if (invocation.follow && invocation.file == "-")
            return Refused("standard input cannot be followed");
    } else if (invocation.list && !operands.empty()) {
        return Refused("--list takes no CODE");
    } else if (!invocation.list && operands.empty()) {
        return Refused("CODE missing");
    } else {
        invocation.codes = std::move(operands);
    }
    return invocation;
}

}  // namespace

Invocation ParseCommandLine(const std::vector<std::string>& arguments, bool fileRequired)
{
    if (arguments.empty())
        return Refused("command missing");
    const std::string& command = arguments[0];
    if (IsHelp(command))
        return Help();
    if (command != "report" && command != "cause")
        return Refused("unknown command " + command);
    Invocation invocation;
    invocation.command = command == "report" ? Command::Report : Command::Cause;
    // Options may stand anywhere until "--"; "-" alone is an operand.
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-')
            operands.push_back(argument);
        else if (argument == "--")
            optionsEnded = true;
        else if (IsHelp(argument))
            return Help();
        else if (TakesValue(argument, invocation)) {
            const std::string* value = ++i < arguments.size() ? &arguments[i] : nullptr;
            if (!TakeOptionValue(argument, value, &invocation))
                return Refused(argument + " needs " +
                                (argument == "--state" || argument == "--output" ? std::string("a FILE")
                                 : argument == "--relp" ? std::string("HOST:PORT, HOST an IPv4 address or a name")
                                                        : "milliseconds, " + std::to_string(FOLLOW_INTERVAL_MIN_MS) +
                                                              " to " + std::to_string(FOLLOW_INTERVAL_MAX_MS)));
        } else if (!TakeOption(argument, &invocation))
            return Refused("unknown option " + argument);
    }
    return TakeOperands(std::move(invocation), std::move(operands), fileRequired);
}

const char* UsageText()
{
    return "usage: ndislog report [--utf8] [--json] [--output OUT] [FILE]\n"
           "       ndislog report --follow [--utf8] [--json] [--output OUT] [--state STATE]\n"
           "                [--interval MS] [FILE]\n"
           "       ndislog report --follow --json --relp HOST:PORT [--state STATE]\n"
           "                [--interval MS] [FILE]\n"
           "       ndislog cause [--english] [--utf8] [--json] [--] CODE...\n"
           "       ndislog cause --list [--english] [--utf8] [--json]\n"
           "       ndislog service install [--name NAME] [--account ACCOUNT [--password PW]]\n"
           "                -- report --follow --json --relp HOST:PORT --state STATE [...]\n"
           "       ndislog service uninstall [--name NAME]\n"
           "  report   print the numbered log report of the driver log FILE\n"
           "           (on Windows FILE defaults to ndislog.txt in the Windows directory;\n"
           "           - reads the log from standard input)\n"
           "  --follow read what the log gains every 3 seconds and print new records, each\n"
           "           once its line is complete; Ctrl-C ends after saving the place\n"
           "  --state  keep the place in file STATE and go on from it when started again\n"
           "  --interval  read the log every MS milliseconds (100 to 3600000; 3000)\n"
           "  --output append to file OUT (created when missing) instead of printing; an\n"
           "           unfinished last line in OUT is ended first, never continued\n"
           "  --relp   send each record to the rsyslog centre HOST:PORT (imrelp) instead of\n"
           "           printing it; the place advances only over records the centre took\n"
           "  cause    print the message for each hexadecimal cause CODE (after --, one\n"
           "           that starts with -)\n"
           "  --list   print the whole cause catalogue, code and text, in its order\n"
           "  --english  catalogue texts in English\n"
           "  --utf8   convert the output from code page 932 to UTF-8\n"
           "  --json   one JSON object per record or code, a line each, in UTF-8\n"
           "  service  (Windows) install the Windows service NAME (ndislog) that runs the\n"
           "           report options after -- from Windows' start on, or remove it\n"
           "exit status: 0 done; 1 the log could not be opened or read, or the output not\n"
           "written (the report is printed as it is read: after a read error what was\n"
           "printed is incomplete); 2 bad usage\n";
}
