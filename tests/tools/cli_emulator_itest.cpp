// ostrel-azure against a fresh blob emulator: what a user sees for check,
// listings and directory commands, and that the token never shows.
#include "tests/tools/cli_runner.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <jansson.h>
#include <memory>
#include <sstream>

namespace
{

using ostrel_cli_test::run_cli;
using ostrel_cli_test::temp_file;

// The emulator's paths and names need no JSON escaping.
std::string config_text(const ostrel_test::emulator &emu)
{
    return "{\"account\":\"" + emu.account_text + "\",\"ca_file\":\"" + emu.ca_file + "\"}";
}

std::string token_of(const std::string &creds)
{
    json_error_t error;
    json_t *obj = json_loads(creds.c_str(), 0, &error);
    std::string token = json_string_value(json_object_get(obj, "access_token"));
    json_decref(obj);
    return token;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

struct cli_emulator : ::testing::Test {
    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    std::string creds = ostrel_test::mint_creds(3600, "cli-user");
    temp_file config{config_text(emu)};
    temp_file creds_file{creds};

    ostrel_cli_test::run_result cli(std::vector<std::string> args)
    {
        std::vector<std::string> all = {"--config", config.path(), "--creds", creds_file.path()};
        all.insert(all.end(), args.begin(), args.end());
        return run_cli(all);
    }
};

TEST_F(cli_emulator, CheckShowsAccountSubjectAndExpiryButNeverTheToken)
{
    auto r = cli({"--debug", "ALL", "check"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("account:       " + emu.account + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("endpoint:      " + emu.endpoint + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("subject:       cli-user\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(in "), std::string::npos) << r.out;
    std::string token = token_of(creds);
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(r.out.find(token), std::string::npos);
    EXPECT_EQ(r.err.find(token), std::string::npos) << "token in the debug log";

    r = cli({"check", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    json_error_t error;
    json_t *obj = json_loads(r.out.c_str(), 0, &error);
    ASSERT_NE(obj, nullptr) << r.out;
    EXPECT_STREQ(json_string_value(json_object_get(obj, "subject")), "cli-user");
    EXPECT_GT(json_integer_value(json_object_get(obj, "token_seconds_left")), 3000);
    json_decref(obj);
}

TEST_F(cli_emulator, DirectoryCommandsAndListings)
{
    std::string container = ostrel_test::unique_name("cli");
    std::string root = "/" + container;
    ASSERT_EQ(cli({"mkdir", root}).status, 0);
    ASSERT_EQ(cli({"mkdir", root + "/dir"}).status, 0);

    auto r = cli({"stat", root});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("drwx------", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" " + container + "\n"), std::string::npos) << r.out;

    r = cli({"ls", root});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names = lines(r.out);
    EXPECT_NE(std::find(names.begin(), names.end(), "dir"), names.end()) << r.out;

    r = cli({"ls", "-l", "--json", "/"});
    ASSERT_EQ(r.status, 0) << r.err;
    bool found = false;
    for (const std::string &line : lines(r.out)) {
        json_error_t error;
        json_t *obj = json_loads(line.c_str(), 0, &error);
        ASSERT_NE(obj, nullptr) << line;
        if (container == json_string_value(json_object_get(obj, "name"))) {
            found = true;
            EXPECT_EQ(json_integer_value(json_object_get(obj, "mode")), 040700);
        }
        json_decref(obj);
    }
    EXPECT_TRUE(found) << r.out;

    r = cli({"rmdir", root + "/dir"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(cli_emulator, MissingPathIsReportedWithReplyCode)
{
    std::string path = "/" + ostrel_test::unique_name("none") + "/x";
    auto r = cli({"stat", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ostrel-azure: stat " + path + ": 550 PATH_NOT_FOUND", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(cli_emulator, LongRootListingArrivesInBatchesAndIsComplete)
{
    // more than one batch of 32 entries
    std::vector<std::string> created;
    for (int i = 0; i < 33; i++) {
        created.push_back(ostrel_test::unique_name("many"));
        ASSERT_EQ(cli({"mkdir", "/" + created.back()}).status, 0);
    }
    auto r = cli({"ls", "/"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names = lines(r.out);
    for (const std::string &name : created)
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
}

} // namespace
