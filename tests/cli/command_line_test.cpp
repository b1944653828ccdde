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
    text += std::string(invocation.follow ? " follow" : "") + (invocation.utf8 ? " utf8" : "") +
            (invocation.english ? " english" : "") + (invocation.json ? " json" : "") + (invocation.list ? " list" : "") + (invocation.file.empty() ? "" : " file=" + invocation.file) +
            (invocation.outputFile.empty() ? "" : " output=" + invocation.outputFile);
    for (const std::string& code : invocation.codes)
        text += " code=" + code;
    return text + (invocation.problem.empty() ? "" : " (" + invocation.problem + ")");
}

TEST(CommandLine, ReadsCommandsAndOptions)
{
    const struct {
        std::vector<std::string> arguments;
        bool fileRequired;
        std::string expected;
    } cases[] = {
        {{"report", "--utf8", "log.txt", "--follow"}, true, "report follow utf8 file=log.txt"},
        {{"report", "--json", "--follow", "--utf8", "log.txt"}, true, "report follow utf8 json file=log.txt"},
        {{"report"}, true, "usage (FILE missing)"},
        {{"report", "--output", "o.jsonl", "--follow", "log.txt"}, true, "report follow file=log.txt output=o.jsonl"},
        {{"report", "log.txt", "--output"}, true, "usage (--output needs a FILE)"},
        {{"report", "--follow", "--json", "--relp", "c:2514", "--output", "o.jsonl", "log.txt"},
         true,
         "usage (--output and --relp do not go together)"},
        {{"report"}, false, "report"},
        {{"report", "a.txt", "b.txt"}, true, "usage (more than one FILE)"},
        {{"report", "-f", "a.txt"}, true, "usage (unknown option -f)"},
        {{"report", "--", "-odd-name"}, true, "report file=-odd-name"},
        {{"report", "a.txt", "--help"}, true, "help"},
        {{"cause", "--english", "10", "--utf8", "--", "-1"}, true, "cause utf8 english code=10 code=-1"},
        {{"cause", "--", "--english"}, true, "cause code=--english"},
        {{"cause", "-list"}, true, "usage (unknown option -list)"},
        {{"cause", "10", "-1"}, true, "usage (unknown option -1)"},
        {{"cause", "--english"}, true, "usage (CODE missing)"},
        {{"cause", "--engl", "10"}, true, "usage (unknown option --engl)"},
        {{"cause", "--list", "--json", "--english", "--utf8"}, true, "cause utf8 english json list"},
        {{"cause", "--list", "10"}, true, "usage (--list takes no CODE)"},
        {{"cause", "--json"}, true, "usage (CODE missing)"},
        {{"show"}, true, "usage (unknown command show)"},
        // Without --follow an interval means nothing, whatever its value, the default too.
        {{"report", "--interval", "3000", "log.txt"}, true, "usage (--state and --interval go with --follow)"},
        {{"report", "--interval", "3001", "log.txt"}, true, "usage (--state and --interval go with --follow)"},
        {{"report", "--interval", "3000", "--follow", "log.txt"}, true, "report follow file=log.txt"},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(testCase.expected, Describe(ParseCommandLine(testCase.arguments, testCase.fileRequired)))
            << testCase.arguments.back();
}

}  // namespace
