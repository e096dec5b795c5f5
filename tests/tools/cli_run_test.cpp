// ostrel-azure run as a program: help, usage errors, and failures that need
// no blob service.
#include "tests/tools/cli_runner.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace
{

using ostrel_cli_test::run_cli;
using ostrel_cli_test::temp_file;

TEST(Program, HelpListsEveryCommand)
{
    auto r = run_cli({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char *command : {"check", "stat", "ls", "mkdir", "rmdir", "rm", "cksum"})
        EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    EXPECT_EQ(r.err, "");
}

TEST(Program, UsageErrorsExitTwoWithUsageLine)
{
    const std::vector<std::vector<std::string>> bad = {
        {}, {"nosuch"}, {"stat"}, {"--creds", "a", "--token-command", "b", "check"}, {"ls", "-q"}};
    for (const auto &args : bad) {
        auto r = run_cli(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("usage: ostrel-azure"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(Program, UnreadableConfigFails)
{
    auto r = run_cli({"--config", "/nonexistent/config.json", "check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/nonexistent/config.json"), std::string::npos) << r.err;
}

TEST(Program, NonBooleanAdlsFailsTheSessionStart)
{
    temp_file config("{\"account\": \"devstoreaccount1:127.0.0.1:9/devstoreaccount1\", "
                     "\"adls\": 1}");
    std::string creds = ostrel_test::mint_creds();
    temp_file creds_file(creds);
    auto r = run_cli({"--config", config.path(), "--creds", creds_file.path(), "check"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Error parsing storage account"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(Program, FailingTokenCommandIsReported)
{
    temp_file config("{\"account\": \"devstoreaccount1:127.0.0.1:9/devstoreaccount1\"}");
    auto r =
        run_cli({"--config", config.path(), "--token-command", "echo not-shown; exit 3", "check"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("token command exited with status 3"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("not-shown"), std::string::npos) << r.err;
}

} // namespace
