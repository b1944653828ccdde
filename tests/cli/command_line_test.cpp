// The command line read into an Invocation.
#include "command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string Describe(const Invocation& invocation)
{
    static const char* const NAMES[] = {"help", "report", "cause", "usage"};
    std::string text = NAMES[static_cast<int>(invocation.command)];
    if (invocation.follow)
        text += " follow";
    if (invocation.utf8)
        text += " utf8";
    if (invocation.english)
        text += " english";
    if (!invocation.file.empty())
        text += " file=" + invocation.file;
    for (const std::string& code : invocation.codes)
        text += " code=" + code;
    if (!invocation.problem.empty())
        text += " (" + invocation.problem + ")";
    return text;
}

TEST(CommandLine, ReadsCommandsAndOptions)
{
    const struct {
        std::vector<std::string> arguments;
        bool fileRequired;
        std::string expected;
    } cases[] = {
        {{}, true, "usage (command missing)"},
        {{"--help"}, true, "help"},
        {{"-h"}, true, "help"},
        {{"show"}, true, "usage (unknown command show)"},
        {{"report", "log.txt"}, true, "report file=log.txt"},
        {{"report", "--utf8", "log.txt", "--follow"}, true, "report follow utf8 file=log.txt"},
        {{"report"}, true, "usage (FILE missing)"},
        {{"report"}, false, "report"},
        {{"report", "a.txt", "b.txt"}, true, "usage (more than one FILE)"},
        {{"report", "--tail", "a.txt"}, true, "usage (unknown option --tail)"},
        {{"report", "-f", "a.txt"}, true, "usage (unknown option -f)"},
        {{"report", "--", "-odd-name"}, true, "report file=-odd-name"},
        {{"report", "-"}, true, "report file=-"},
        {{"report", "a.txt", "--help"}, true, "help"},
        {{"cause", "10", "ff00"}, true, "cause code=10 code=ff00"},
        {{"cause", "--english", "--utf8", "10"}, true, "cause utf8 english code=10"},
        {{"cause", "-1", "+4"}, true, "cause code=-1 code=+4"},
        {{"cause", "--", "--english"}, true, "cause code=--english"},
        {{"cause"}, true, "usage (CODE missing)"},
        {{"cause", "--english"}, true, "usage (CODE missing)"},
        {{"cause", "--engl", "10"}, true, "usage (unknown option --engl)"},
        {{"cause", "-h"}, true, "help"},
    };
    for (const auto& testCase : cases) {
        std::string joined;
        for (const std::string& argument : testCase.arguments)
            joined += argument + " ";
        EXPECT_EQ(testCase.expected, Describe(ParseCommandLine(testCase.arguments, testCase.fileRequired)))
            << "arguments: " << joined;
    }
}

}  // namespace
