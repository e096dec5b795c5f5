// ostrel-azure run as a program: help, usage errors, where the configuration
// comes from, and failures that need no blob service.
#include "tests/tools/cli_runner.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using ostrel_cli_test::run_cli;
using ostrel_cli_test::temp_file;

// The help is printed from the tables the parser reads; what can go wrong
// is a table left out of a page.
TEST(Program, HelpPagesShowTheirCommandsAndOptions)
{
    struct row {
        std::vector<std::string> args;
        std::vector<std::string> shown;
    } rows[] = {
        {{"--help"}, {"check", "batch", "--config", "--block-size", "--help"}},
        {{"get", "--help"}, {"--offset", "--continue", "--help", "--config", "--token-timeout"}},
        {{"help", "batch"}, {"--keep-going", "--help", "--verbose"}},
    };
    for (const row &page : rows) {
        auto r = run_cli(page.args);
        EXPECT_EQ(r.status, 0) << page.args[0] << r.err;
        for (const std::string &word : page.shown)
            EXPECT_NE(r.out.find("  " + word + " "), std::string::npos) << page.args[0] << word;
    }

    auto r = run_cli({"ls", "-q"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("ostrel-azure: unknown option -q for ls\nusage: ostrel-azure", 0), 0u)
        << r.err;
}

// A home of its own, so no real user configuration is read.
struct fresh_home : ::testing::Test {
    std::string home = "/tmp/ostrel-cli-home-" + ostrel_test::unique_name("h");
    ostrel_cli_test::env_changes env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", std::nullopt}, {"OSTREL_AZURE_CONFIG", std::nullopt}};
    temp_file creds{ostrel_test::mint_creds()};

    void SetUp() override { ASSERT_EQ(mkdir(home.c_str(), 0700), 0); }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + home + "'").c_str()), 0); }

    ostrel_cli_test::run_result cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--creds", creds.path()});
        return run_cli(args, env);
    }
};

TEST_F(fresh_home, ConfigurationComesFromOptionVariableOrDefault)
{
    auto r = cli({"check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no configuration"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(home + "/.config/ostrel-azure/config.json"), std::string::npos) << r.err;

    std::string dir = home + "/xdg/ostrel-azure";
    ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::ofstream(dir + "/config.json") << ostrel_cli_test::unreachable_config();
    env.push_back({"XDG_CONFIG_HOME", home + "/xdg"});
    r = cli({"check"});
    EXPECT_NE(r.out.find("config:        " + dir + "/config.json\n"), std::string::npos)
        << r.out << r.err;

    temp_file named(ostrel_cli_test::unreachable_config());
    env.push_back({"OSTREL_AZURE_CONFIG", named.path()});
    r = cli({"check"});
    EXPECT_NE(r.out.find("config:        " + named.path() + "\n"), std::string::npos) << r.out;
    r = cli({"--config", "/nonexistent/c.json", "check"});
    EXPECT_NE(r.err.find("/nonexistent/c.json"), std::string::npos) << r.err;
}

TEST_F(fresh_home, FailuresBeforeTheServiceIsAsked)
{
    temp_file config(ostrel_cli_test::unreachable_config());
    temp_file bad_adls("{\"account\": \"devstoreaccount1:127.0.0.1:9/x\", \"adls\": 1}");
    struct row {
        std::vector<std::string> args;
        std::string message;
    } rows[] = {
        {{"--config", "/dev/zero", "check"}, "larger than 4 MiB"},
        {{"--config", bad_adls.path(), "--creds", creds.path(), "check"},
         "Error parsing storage account"},
        {{"--config", config.path(), "--creds", creds.path(), "rmdir", "/some-container"},
         "set OSTREL_AZURE_DELETE_CONTAINERS=1"},
    };
    for (const row &r : rows) {
        auto result = run_cli(r.args, {{"OSTREL_AZURE_DELETE_CONTAINERS", std::nullopt}});
        EXPECT_EQ(result.status, 1) << r.message;
        EXPECT_NE(result.err.find(r.message), std::string::npos) << result.err;
    }
}

bool process_gone(const std::string &pid)
{
    for (int i = 0; i < 50; i++, usleep(100000)) {
        std::ifstream in("/proc/" + pid + "/stat");
        std::string skip, name, state;
        if (!(in >> skip >> name >> state) || state == "Z")
            return true;
    }
    return false;
}

// What a token command starts goes down with it: on a timeout, and when the
// program is stopped (the command's own group gets no terminal signals).
TEST_F(fresh_home, TokenCommandGroupIsStopped)
{
    temp_file config(ostrel_cli_test::unreachable_config());
    std::string pid_file = home + "/pid";
    for (std::string ending : {"wait", "kill -TERM $PPID; wait"}) {
        auto r = run_cli({"--config", config.path(), "--token-timeout", "1", "--token-command",
                          "sleep 1000 & echo $! > " + pid_file + "; " + ending, "check"});
        EXPECT_NE(r.status, 0);
        if (ending == "wait") {
            EXPECT_NE(r.err.find("did not finish within 1 s"), std::string::npos) << r.err;
        }
        std::string pid;
        std::ifstream(pid_file) >> pid;
        ASSERT_FALSE(pid.empty());
        EXPECT_TRUE(process_gone(pid)) << "sleep " << pid << " outlived " << ending;
    }
}

} // namespace
