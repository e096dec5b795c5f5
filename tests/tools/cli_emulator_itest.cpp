// ostrel-azure against a fresh blob emulator: what a user sees for check,
// listings and directory commands, odd names, and token renewal.
#include "tests/az/itest_support.h"
#include "tests/tools/cli_runner.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace
{

using ostrel_cli_test::run_cli;
using ostrel_cli_test::temp_file;

// The emulator's paths and names need no JSON escaping.
std::string config_text(const std::string &account_text, const std::string &ca_file)
{
    return "{\"account\":\"" + account_text + "\"" +
           (ca_file.empty() ? "" : ",\"ca_file\":\"" + ca_file + "\"") +
           ",\"retry_max_delay_ms\":10}";
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

bool has_line(const std::string &text, const std::string &line)
{
    std::vector<std::string> all = lines(text);
    return std::find(all.begin(), all.end(), line) != all.end();
}

struct cli_emulator : ::testing::Test {
    static void SetUpTestSuite() { ASSERT_EQ(AZ_initialize(), AZ_OK); }

    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    az_itest::client_ptr seed = az_itest::make_client(emu);
    std::string creds = ostrel_test::mint_creds(3600, "cli-user");
    temp_file config{config_text(emu.account_text, emu.ca_file)};
    temp_file creds_file{creds};

    ostrel_cli_test::run_result cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--config", config.path(), "--creds", creds_file.path()});
        return run_cli(args);
    }
};

TEST_F(cli_emulator, CheckAsksTheServiceAndNeverShowsTheToken)
{
    auto r = cli({"--debug", "ALL", "check"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has_line(r.out, "endpoint:      " + emu.endpoint)) << r.out;
    EXPECT_TRUE(has_line(r.out, "subject:       cli-user")) << r.out;
    EXPECT_NE(r.out.find("service:       answered"), std::string::npos) << r.out;
    size_t start = creds.find("eyJ");
    std::string token = creds.substr(start, creds.find('"', start) - start);
    EXPECT_EQ(r.out.find(token), std::string::npos);
    EXPECT_EQ(r.err.find(token), std::string::npos) << "token in the debug log";

    r = cli({"check", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(",\"service\":\"answered\"}"), std::string::npos) << r.out;
}

TEST_F(cli_emulator, CheckNamesWhatFailed)
{
    temp_file unreachable(ostrel_cli_test::unreachable_config());
    temp_file system_cas(config_text(emu.account_text, ""));
    temp_file expired(ostrel_test::mint_creds(-100));
    struct row {
        std::string config, creds, message;
    } rows[] = {
        {unreachable.path(), creds_file.path(), "cannot reach the service at 127.0.0.1:9/"},
        {system_cas.path(), creds_file.path(), "the service's certificate was not accepted"},
        {config.path(), expired.path(), "the access token expired at"},
    };
    for (const row &r : rows) {
        auto result = run_cli({"--config", r.config, "--creds", r.creds, "check"});
        EXPECT_EQ(result.status, 1) << r.message << ": " << result.out;
        EXPECT_EQ(result.err.rfind("ostrel-azure: check: " + r.message, 0), 0u) << result.err;
    }
}

TEST_F(cli_emulator, ListingsDirectoriesAndOddNames)
{
    std::string container = ostrel_test::unique_name("cli");
    std::string root = "/" + container;
    ASSERT_EQ(cli({"mkdir", root}).status, 0);
    ASSERT_EQ(cli({"mkdir", root + "/dir"}).status, 0);
    az_itest::put_text(seed.get(), container, "f.txt", "hello");
    // what an XML listing can carry: newline, tab, DEL, a C1 control
    const std::string odd = "a\nb\tc\x7f\xC2\x9B";
    az_itest::put_text(seed.get(), container, odd, "x");

    auto r = cli({"ls", root});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has_line(r.out, "dir")) << r.out;
    EXPECT_TRUE(has_line(r.out, "a\\nb\\tc\\x7F\\xC2\\x9B")) << r.out;
    EXPECT_EQ(lines(r.out).size(), 4u) << r.out; // ".", dir, f.txt and the odd one

    r = cli({"ls", "--json", root});
    EXPECT_NE(r.out.find("\"name\":\"a\\nb\\tc\\u007f\\u009b\""), std::string::npos) << r.out;

    // a file lists itself; a missing path still fails
    r = cli({"ls", "-l", container + "/f.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("-rwx------ ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" 5 "), std::string::npos) << r.out;
    EXPECT_EQ(lines(r.out), std::vector<std::string>{lines(r.out)[0]});
    EXPECT_EQ(cli({"ls", root + "/missing"}).status, 1);

    // an escape sequence cannot go through the emulator's listing, only a stat
    az_itest::put_text(seed.get(), container, "dir/esc\x1b[2J", "x");
    r = cli({"stat", root + "/dir/esc\x1b[2J"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("esc\\x1B[2J\n"), std::string::npos) << r.out;

    r = cli({"stat", root + "/no\nsuch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines(r.err)[0], "ostrel-azure: stat " + root +
                                   "/no\\nsuch: 550 PATH_NOT_FOUND: "
                                   "GridFTP-Path: \"" +
                                   root + "/no\\nsuch\"");
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);

    EXPECT_EQ(cli({"rm", root + "/dir/esc\x1b[2J"}).status, 0);
    r = cli({"rmdir", root + "/dir"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(cli_emulator, LongRootListingIsComplete)
{
    // more than one batch of 32 entries
    std::vector<std::string> created;
    for (int i = 0; i < 33; i++) {
        created.push_back(ostrel_test::unique_name("many"));
        az_itest::create_container(seed.get(), created.back());
    }
    auto r = cli({"ls", "/"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names = lines(r.out);
    for (const std::string &name : created)
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
}

// The first answer of the command-line tool has already expired: the
// plug-in must ask for "renew-creds", which runs the command again.
TEST_F(cli_emulator, ExpiredTokenOfTheAzureToolIsRenewedThroughTheCommand)
{
    temp_file stale("{\"accessToken\":\"" + ostrel_test::mint_token(3600) +
                    "\",\"expiresOn\":\"2001-01-01 00:00:00.000000\",\"tokenType\":\"Bearer\"}");
    temp_file fresh("{\"accessToken\":\"" + ostrel_test::mint_token(3600) +
                    "\",\"expires_on\":" + std::to_string(time(nullptr) + 3600) + "}");
    temp_file count("");
    std::string command = "echo run >> " + count.path() + "; if [ $(wc -l < " + count.path() +
                          ") -eq 1 ]; then cat " + stale.path() + "; else cat " + fresh.path() +
                          "; fi";
    auto r = run_cli({"--config", config.path(), "--token-command", command, "check"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::ifstream in(count.path());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_GE(lines(text).size(), 2u) << "the token command ran only once";
}

} // namespace
