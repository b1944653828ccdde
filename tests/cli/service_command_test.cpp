// `ndislog service ...` read and checked before anything is registered, and the command line
// the service manager runs.
#include "service_command.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> SHIPPING = {"report", "--follow", "--json", "--relp", "centre:2514", "--state",
                                           "C:\\ndislog\\state"};

std::vector<std::string> Line(std::vector<std::string> head, const std::vector<std::string>& tail = SHIPPING)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// What a request asks for, or the problem of a bad one.
std::string Describe(const ServiceRequest& request)
{
    if (request.action == ServiceAction::BadUsage)
        return "usage (" + request.problem + ")";
    static const char* const ACTIONS[] = {"install", "uninstall", "run"};
    return std::string(ACTIONS[static_cast<int>(request.action)]) + " " + request.name +
           (request.account.empty() ? "" : " as " + request.account + "/" + request.password) + " " +
           std::to_string(request.reportArguments.size());
}

TEST(ServiceCommand, ChecksEverythingBeforeRegistering)
{
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
    } cases[] = {
        {Line({"install", "--"}), "install ndislog 7"},
        {Line({"install", "--name", "edge", "--account", ".\\op", "--password", "pw", "--"}), "install edge as .\\op/pw 7"},
        {Line({"run", "--name", "edge", "--"}, Line(SHIPPING, {"\\\\server\\share\\ndislog.txt"})), "run edge 8"},
        {{"uninstall", "--name", "edge"}, "uninstall edge 0"},
        {{}, "usage (service needs install, uninstall or run)"},
        {{"start"}, "usage (unknown service command start)"},
        {{"install"}, "usage (the report options follow --: -- report --follow --json --relp HOST:PORT --state STATE)"},
        {Line({"install"}), "usage (unknown option report)"},
        {Line({"install", "--name", "--"}), "usage (--name needs a value)"},
        {Line({"install", "--password", "pw", "--"}), "usage (--password goes with --account)"},
        {Line({"uninstall", "--account", "a", "--"}), "usage (unknown option --account)"},
        {Line({"uninstall", "--"}), "usage (service uninstall takes no report options)"},
        {Line({"install", "--"}, {"cause", "10"}), "usage (a service runs report --follow)"},
        {Line({"install", "--"}, {"report", "--follow", "--bogus"}), "usage (unknown option --bogus)"},
        {Line({"install", "--"}, {"report", "--help"}), "usage (a service runs report --follow)"},
        {Line({"install", "--"}, {"report", "--follow", "--json", "--state", "C:\\s"}),
         "usage (a service has no standard output: it needs --json --relp HOST:PORT)"},
        {Line({"install", "--"}, {"report", "--follow", "--json", "--relp", "c:1"}),
         "usage (a service needs --state STATE to go on where it stopped)"},
        {Line({"install", "--"}, {"report", "--follow", "--json", "--relp", "c:1", "--state", "state"}),
         "usage (--state needs an absolute path (C:\\...) for a service)"},
        {Line({"install", "--"}, {"report", "--follow", "--json", "--relp", "c:1", "--state", "C:state"}),
         "usage (--state needs an absolute path (C:\\...) for a service)"},
        {Line({"install", "--"}, Line(SHIPPING, {"ndislog.txt"})), "usage (FILE needs an absolute path (C:\\...) for a service)"},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(testCase.expected, Describe(ParseServiceCommand(testCase.arguments)))
            << (testCase.arguments.empty() ? "" : testCase.arguments.back());
}

// Each argument comes back whole from the C runtime's split: spaces, quotes and the
// backslashes before them, and a trailing backslash that would otherwise escape the quote.
TEST(ServiceCommand, QuotesArgumentsAsTheRuntimeSplitsThem)
{
    const struct {
        std::string argument;
        std::string quoted;
    } cases[] = {
        {"C:\\ndislog\\state", "C:\\ndislog\\state"},
        {"C:\\Program Files\\ndislog\\state", "\"C:\\Program Files\\ndislog\\state\""},
        {"C:\\my logs\\", "\"C:\\my logs\\\\\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"", "\"\""},
        {"tab\there", "\"tab\there\""},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(testCase.quoted, QuoteWindowsArgument(testCase.argument)) << testCase.argument;

    ServiceRequest request = ParseServiceCommand(
        Line({"install", "--name", "edge one", "--"}, {"report", "--follow", "--json", "--relp", "c:1", "--state", "C:\\my logs\\s"}));
    EXPECT_EQ("\"C:\\Program Files\\ndislog.exe\" service run --name \"edge one\" -- report --follow --json --relp c:1 "
              "--state \"C:\\my logs\\s\"",
              ServiceCommandLine("C:\\Program Files\\ndislog.exe", request));
}

}  // namespace
