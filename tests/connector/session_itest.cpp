// Session start, its documents and the debug log, with the plug-in loaded
// through the host against the blob emulator.
#include "host/ostrel_host_runtime.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace
{

const char *const module_name = "ostrel_gridftp_server_azure_blob";

class session_itest : public ::testing::Test
{
  protected:
    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    std::map<std::string, std::string> documents;

    std::string config()
    {
        return "{\"account\": \"" + emu.account_text + "\", \"ca_file\": \"" + emu.ca_file +
               "\", \"adls\": false}";
    }

    ostrel_host::session_options options()
    {
        ostrel_host::session_options o;
        o.documents = [this](const std::string &key) -> std::optional<std::string> {
            auto it = documents.find(key);
            return it == documents.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        return o;
    }

    std::unique_ptr<ostrel_host::loaded_module> module;
    const ostrel_gfs_storage_iface_t *dsi = nullptr;

    void load()
    {
        module = ostrel_host::loaded_module::load(module_name);
        auto initialize =
            (ostrel_result_t(*)(void))module->symbol("ostrel_i_azure_base_initialize");
        ASSERT_NE(initialize, nullptr);
        ASSERT_TRUE(ostrel_host::take_error(initialize()).ok);
        dsi = module->dsi("azure_blob");
        ASSERT_NE(dsi, nullptr);
    }
};

TEST_F(session_itest, start_fails_clearly_without_what_it_needs)
{
    ASSERT_NO_FATAL_FAILURE(load());
    struct row {
        std::optional<std::string> config;
        std::optional<std::string> creds;
        std::string message;
    };
    // Unreadable documents are the parsers' own tests (config_parse_test, token_test).
    const std::string token = ostrel_test::mint_token(3600);
    const row rows[] = {
        {std::nullopt, ostrel_test::mint_creds(3600),
         "no storage configuration (\"config\") for this session"},
        {config(), std::nullopt, "no access token (\"creds\") for user bob"},
        {"{\"account\": \"" + emu.account_text + "\", \"adls\": 1}", ostrel_test::mint_creds(3600),
         "Error parsing storage account: "},
        {config(), "{\"access_token\": " + token + "}", "Error loading user credential: "},
    };
    for (const row &r : rows) {
        documents.clear();
        if (r.config)
            documents["config"] = *r.config;
        if (r.creds)
            documents["creds"] = *r.creds;
        ostrel_host::session session(dsi, options());
        ostrel_host::error_info error = session.start("bob");
        EXPECT_FALSE(error.ok) << r.message;
        EXPECT_NE(error.text.find(r.message), std::string::npos) << error.text;
        EXPECT_EQ(error.text.find(token), std::string::npos) << "token in: " << error.text;
    }
}

TEST_F(session_itest, debug_log_traces_without_the_token)
{
    char path[] = "/tmp/ostrel-debug-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("OSTREL_AZURE_DEBUG", (std::string("ALL,") + path).c_str(), 1);
    std::string creds = ostrel_test::mint_creds(3600);
    {
        ASSERT_NO_FATAL_FAILURE(load());
        unsetenv("OSTREL_AZURE_DEBUG");
        documents["config"] = config();
        documents["creds"] = creds;
        ostrel_host::session session(dsi, options());
        ASSERT_TRUE(session.start().ok);
        ostrel_gfs_command_info_t rename = {};
        rename.command = OSTREL_GFS_CMD_RNFR;
        rename.pathname = (char *)"/x";
        session.command(rename);
    }
    module.reset();
    std::ifstream in(path);
    std::stringstream log;
    log << in.rdbuf();
    unlink(path);
    EXPECT_NE(log.str().find("az: TRACE: ostrel_i_azure_start: enter\n"), std::string::npos)
        << log.str();
    EXPECT_NE(
        log.str().find("az: TRACE: ostrel_i_azure_config_parse_json: result=OSTREL_SUCCESS\n"),
        std::string::npos);
    size_t at = creds.find("\"access_token\":\"");
    ASSERT_NE(at, std::string::npos);
    std::string token = creds.substr(at + 16, creds.find('"', at + 16) - at - 16);
    EXPECT_EQ(log.str().find(token), std::string::npos);
}

// The emulator refuses an expired token, so these operations succeed only
// because the plug-in renews it through "renew-creds" first.
TEST_F(session_itest, expired_token_is_renewed_before_the_next_operation)
{
    ASSERT_NO_FATAL_FAILURE(load());
    int renewals = 0;
    ostrel_host::session_options o;
    std::string cfg = config();
    o.documents = [&](const std::string &key) -> std::optional<std::string> {
        if (key == "config")
            return cfg;
        if (key == "creds")
            return ostrel_test::mint_creds(-60);
        renewals++;
        return ostrel_test::mint_creds(3600);
    };
    ostrel_host::session session(dsi, o);
    ASSERT_TRUE(session.start().ok);
    std::string container = "/" + ostrel_test::unique_name("renew");
    ostrel_gfs_command_info_t mkdir = {};
    mkdir.command = OSTREL_GFS_CMD_MKD;
    mkdir.pathname = (char *)container.c_str();
    ostrel_host::command_result made = session.command(mkdir);
    EXPECT_TRUE(made.error.ok) << made.error.text;
    ostrel_host::stat_result found = session.stat(container, true);
    EXPECT_TRUE(found.error.ok) << found.error.text;
    EXPECT_EQ(renewals, 1);
}

} // namespace
