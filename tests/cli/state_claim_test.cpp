// Claiming the state file: never one whose saves would overwrite the log (the lock is tested
// with the program: two followers on one state file).
#include "state_claim.h"

#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "temp_files.h"

namespace {

TEST(StateClaim, RefusesTheLogByAnyName)
{
    TempFolder folder;
    const std::string log = folder.File("log.txt");
    WriteFile(log, "1.A,\n");
    ASSERT_EQ(0, link(log.c_str(), folder.File("hard").c_str()));
    for (const char* name : {"soft", "s.new", "k.lock"})
        ASSERT_EQ(0, symlink(log.c_str(), folder.File(name).c_str()));
    const std::pair<std::string, StateClaimResult> cases[] = {
        {log, StateClaimResult::IsTheLog},
        {folder.File("") + "/log.txt", StateClaimResult::IsTheLog},
        {folder.File("hard"), StateClaimResult::IsTheLog},
        {folder.File("soft"), StateClaimResult::IsTheLog},
        {folder.File("s"), StateClaimResult::IsTheLog},  // s.new, truncated at every save
        {folder.File("k"), StateClaimResult::IsTheLog},  // k.lock
        {folder.File("state"), StateClaimResult::Claimed},
    };
    for (const auto& [state, result] : cases) {
        const StateClaim claim(state, log);
        EXPECT_EQ(result, claim.Result()) << state << claim.Problem();
        EXPECT_EQ("1.A,\n", ReadFile(log)) << state;
    }
    // A log not there yet is told by its name.
    EXPECT_EQ(StateClaimResult::IsTheLog, StateClaim(folder.File("none"), folder.File("none")).Result());
}

}  // namespace
