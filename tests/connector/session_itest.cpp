// Session start, configuration, token renewal and the debug log, with the
// plug-in loaded through the host against the blob emulator.
#include "host/ostrel_host_runtime.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace
{

const char *const module_name = "ostrel_gridftp_server_azure_blob";

class session_itest : public ::testing::Test
{
  protected:
    ostrel_test::emulator emu;
    std::mutex lock;
    std::map<std::string, std::string> documents;
    std::map<std::string, int> asked;

    void SetUp() override { emu = ostrel_test::emulator_from_env(); }

    std::string config(const std::string &extra = "")
    {
        return "{\"account\": \"" + emu.account_text + "\", \"ca_file\": \"" + emu.ca_file +
               "\", \"adls\": false" + extra + "}";
    }

    int asked_for(const std::string &key)
    {
        std::lock_guard<std::mutex> guard(lock);
        return asked[key];
    }

    ostrel_host::session_options options()
    {
        ostrel_host::session_options o;
        o.documents = [this](const std::string &key) -> std::optional<std::string> {
            std::lock_guard<std::mutex> guard(lock);
            asked[key]++;
            auto it = documents.find(key);
            if (it == documents.end())
                return std::nullopt;
            return it->second;
        };
        return o;
    }

    static std::unique_ptr<ostrel_host::loaded_module> load()
    {
        std::unique_ptr<ostrel_host::loaded_module> module =
            ostrel_host::loaded_module::load(module_name);
        auto initialize =
            (ostrel_result_t(*)(void))module->symbol("ostrel_i_azure_base_initialize");
        EXPECT_NE(initialize, nullptr);
        if (initialize) {
            EXPECT_TRUE(ostrel_host::take_error(initialize()).ok);
        }
        return module;
    }

    static ostrel_host::command_result command(ostrel_host::session &s, int number,
                                               const std::string &path)
    {
        ostrel_gfs_command_info_t info = {};
        info.command = number;
        info.pathname = (char *)path.c_str();
        return s.command(info);
    }
};

TEST_F(session_itest, start_with_configuration_and_credential)
{
    auto module = load();
    const ostrel_gfs_storage_iface_t *dsi = module->dsi("azure_blob");
    ASSERT_NE(dsi, nullptr);
    documents["config"] = config(", \"region\": \"ignored\"");
    documents["creds"] = ostrel_test::mint_creds(3600);
    ostrel_host::session session(dsi, options());
    ostrel_host::error_info error = session.start("alice");
    ASSERT_TRUE(error.ok) << error.text;

    // The storage client got the token: a container can be made and seen.
    std::string container = "/" + ostrel_test::unique_name("session");
    ostrel_host::command_result made = command(session, OSTREL_GFS_CMD_MKD, container);
    EXPECT_TRUE(made.error.ok) << made.error.text;
    ostrel_host::stat_result seen = session.stat(container, true);
    EXPECT_TRUE(seen.error.ok) << seen.error.text;
    EXPECT_EQ(asked_for("creds"), 1);
    EXPECT_EQ(asked_for("renew-creds"), 0);
}

TEST_F(session_itest, start_fails_clearly_without_what_it_needs)
{
    auto module = load();
    const ostrel_gfs_storage_iface_t *dsi = module->dsi("azure_blob");
    ASSERT_NE(dsi, nullptr);
    struct row {
        std::optional<std::string> config;
        std::optional<std::string> creds;
        std::string message;
    };
    const std::string token = ostrel_test::mint_token(3600);
    const row rows[] = {
        {std::nullopt, ostrel_test::mint_creds(3600),
         "no storage configuration (\"config\") for this session"},
        {config(), std::nullopt, "no access token (\"creds\") for user bob"},
        {"{\"account\": \"" + emu.account_text + "\", \"adls\": 1}", ostrel_test::mint_creds(3600),
         "Error parsing storage account: "},
        {"{\"account\": ", ostrel_test::mint_creds(3600),
         "Error loading collection storage policy: "},
        {config(), "{\"access_token\": \"" + token + "\", \"sub\": \"bob\"}",
         "Error unpacking collection storage policy: "},
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

TEST_F(session_itest, a_token_near_expiry_is_renewed_once)
{
    auto module = load();
    const ostrel_gfs_storage_iface_t *dsi = module->dsi("azure_blob");
    ASSERT_NE(dsi, nullptr);
    documents["config"] = config();
    documents["creds"] = ostrel_test::mint_creds(60); // inside the 99-second margin
    documents["renew-creds"] = ostrel_test::mint_creds(3600);
    ostrel_host::session session(dsi, options());
    ASSERT_TRUE(session.start().ok);
    EXPECT_EQ(asked_for("renew-creds"), 0);

    std::string container = "/" + ostrel_test::unique_name("renew");
    ostrel_host::command_result made = command(session, OSTREL_GFS_CMD_MKD, container);
    EXPECT_TRUE(made.error.ok) << made.error.text;
    for (int i = 0; i < 3; i++) {
        ostrel_host::stat_result seen = session.stat(container, true);
        EXPECT_TRUE(seen.error.ok) << seen.error.text;
    }
    EXPECT_EQ(asked_for("renew-creds"), 1);
}

TEST_F(session_itest, an_expired_token_without_renewal_fails_the_operation)
{
    auto module = load();
    const ostrel_gfs_storage_iface_t *dsi = module->dsi("azure_blob");
    ASSERT_NE(dsi, nullptr);
    documents["config"] = config();
    documents["creds"] = ostrel_test::mint_creds(-10);
    ostrel_host::session session(dsi, options());
    ASSERT_TRUE(session.start().ok);

    ostrel_host::stat_result seen = session.stat("/" + ostrel_test::unique_name("gone"), true);
    EXPECT_FALSE(seen.error.ok);
    EXPECT_NE(seen.error.text.find("access token expired and the host supplied no renewal"),
              std::string::npos)
        << seen.error.text;
    EXPECT_GE(asked_for("renew-creds"), 1);
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
        auto module = load();
        unsetenv("OSTREL_AZURE_DEBUG");
        const ostrel_gfs_storage_iface_t *dsi = module->dsi("azure_blob");
        ASSERT_NE(dsi, nullptr);
        documents["config"] = config();
        documents["creds"] = creds;
        ostrel_host::session session(dsi, options());
        ASSERT_TRUE(session.start().ok);
        command(session, OSTREL_GFS_CMD_RNFR, "/x");
    }
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

} // namespace
