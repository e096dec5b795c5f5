// Session start and token renewal, with the plug-in loaded through the host
// against the blob emulator.
#include "tests/connector/itest_support.h"

namespace
{

using documents_t = std::map<std::string, std::string>;

using session_itest = connector_itest::plugin_test;

TEST_F(session_itest, start_fails_clearly_without_what_it_needs)
{
    const std::string token = ostrel_test::mint_token(3600);
    const std::string creds = "{\"access_token\": \"" + token +
                              "\", \"token_expiry\": \"2099-01-01T00:00:00.000000+00:00\", "
                              "\"sub\": \"bob\"}";
    auto config_with = [&](const std::string &account, const std::string &ca_file) {
        return "{\"account\": \"" + account + "\", \"ca_file\": \"" + ca_file + "\"}";
    };
    struct row {
        std::optional<std::string> config, creds;
        std::vector<std::string> message;
    };
    // Unreadable configurations are the parser's own tests (config_parse_test).
    const row rows[] = {
        {std::nullopt, creds, {"no storage configuration (\"config\") for this session"}},
        {config(emu), std::nullopt, {"no access token (\"creds\") for user bob"}},
        {config_with("127.0.0.1/", emu.ca_file),
         creds,
         {"storage account \"127.0.0.1/\": ", "lower-case letters and digits"}},
        {config_with("127.0.0.1#", emu.ca_file), creds, {"storage account \"127.0.0.1#\": "}},
        {config_with("devstoreaccount1:127.0.0.1/../x", emu.ca_file),
         creds,
         {"storage account \"devstoreaccount1:127.0.0.1/../x\": "}},
        {config_with(emu.account_text, "/nonexistent/ca.pem"),
         creds,
         {"\"/nonexistent/ca.pem\"", "No such file"}},
        {config_with(emu.account_text, "/"), creds, {"certificate file \"/\"", "directory"}},
        // token documents that cannot be read, the token in them
        {config(emu), "{\"access_token\": " + token + "}", {"Error loading user credential: "}},
        {config(emu),
         "{\"access_token\": \"" + token + "\", \"sub\": \"a\"}",
         {"Error unpacking collection storage policy: "}},
        {config(emu),
         "{\"access_token\": \"" + token + "\", \"sub\": \"a\", \"token_expiry\": \"soon\"}",
         {"Error parsing time string: soon"}},
    };
    for (const row &r : rows) {
        documents_t documents;
        if (r.config)
            documents["config"] = *r.config;
        if (r.creds)
            documents["creds"] = *r.creds;
        asked.clear();
        ostrel_host::error_info error = session_with(documents)->start("bob");
        EXPECT_FALSE(error.ok) << r.message[0];
        for (const std::string &part : r.message)
            EXPECT_NE(error.text.find(part), std::string::npos) << error.text;
        EXPECT_EQ(error.text.find(token), std::string::npos) << "token in: " << error.text;
        // a configuration that names no usable service never loads the token
        if (r.creds && r.config != config(emu)) {
            EXPECT_EQ(asked["creds"], 0) << error.text;
        }
    }
}

// The configuration's tuning reaches the storage client: one attempt a request instead of
// the default four.
TEST_F(session_itest, configured_attempts_reach_the_storage_client)
{
    ostrel_test::fault_proxy proxy(emu);
    ostrel_test::emulator target = proxy.endpoint();
    proxy.add_rule(R"({"method":"HEAD","respond":{"status":503,"body":""}})");
    std::vector<size_t> sent;
    for (const char *attempts : {"", ", \"retry_attempts\": 1"}) {
        std::string text = "{\"account\": \"" + target.account_text + "\", \"ca_file\": \"" +
                           target.ca_file + "\", \"retry_max_delay_ms\": 1" + attempts + "}";
        auto session = session_with({{"config", text}, {"creds", ostrel_test::mint_creds(3600)}});
        ASSERT_TRUE(session->start().ok);
        proxy.clear_log();
        EXPECT_FALSE(session->stat("/" + ostrel_test::unique_name("busy") + "/k", true).error.ok);
        sent.push_back(proxy.requests().size());
    }
    // and the plug-in repeats none of them itself
    EXPECT_EQ(sent, (std::vector<size_t>{4, 1}));
}

// The emulator refuses an expired token, so these operations succeed only
// because the plug-in renews it through "renew-creds" first, the root
// listing included.
TEST_F(session_itest, expired_token_is_renewed_before_the_next_operation)
{
    const std::string expired = ostrel_test::mint_creds(-60);
    auto session = session_with({{"config", config(emu)},
                                 {"creds", expired},
                                 {"renew-creds", ostrel_test::mint_creds(3600)}});
    ASSERT_TRUE(session->start().ok);
    ostrel_host::stat_result root = session->stat("/", false);
    EXPECT_TRUE(root.error.ok) << root.error.text;
    std::string container = "/" + ostrel_test::unique_name("renew");
    EXPECT_TRUE(command(*session, OSTREL_GFS_CMD_MKD, container).error.ok);
    EXPECT_EQ(asked["renew-creds"], 1);

    // A renewal that is missing, unreadable or expired too renews nothing: a token
    // still valid serves on, an expired one fails clearly.
    const std::string token = ostrel_test::mint_token(3600);
    const std::string unreadable = "{\"access_token\": \"" + token + "\", \"sub\": 1}";
    for (const std::optional<std::string> &renewal :
         {std::optional<std::string>(), std::optional<std::string>(unreadable),
          std::optional<std::string>(expired)}) {
        for (long lifetime : {50L, -60L}) {
            documents_t documents = {{"config", config(emu)},
                                     {"creds", ostrel_test::mint_creds(lifetime)}};
            if (renewal)
                documents["renew-creds"] = *renewal;
            auto stale = session_with(documents);
            ASSERT_TRUE(stale->start().ok);
            for (const std::string &path : {std::string("/"), container}) {
                ostrel_host::error_info error = stale->stat(path, false).error;
                if (lifetime > 0)
                    EXPECT_TRUE(error.ok) << error.text;
                else
                    EXPECT_NE(
                        error.text.find("access token expired and the host supplied no renewal"),
                        std::string::npos)
                        << error.text;
                EXPECT_EQ(error.text.find(token), std::string::npos) << error.text;
            }
        }
    }
}

} // namespace
