// The session's configuration document.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

struct parsed {
    bool ok = false;
    std::string error;
    std::string account;
    bool adls = false;
    std::string ca_file;
    bool has_ca_file = false;
    AZ_client_options tuning = {};
};

parsed parse(const char *text)
{
    parsed p;
    char *account = nullptr;
    char *ca_file = nullptr;
    p.adls = false;
    ostrel_result_t result =
        ostrel_i_azure_config_parse_json(nullptr, text, &account, &p.adls, &ca_file, &p.tuning);
    p.ok = result == OSTREL_SUCCESS;
    if (!p.ok) {
        ostrel_object_t *error = ostrel_error_get(result);
        EXPECT_NE(error, nullptr);
        if (error) {
            p.error = ostrel_error_get_text(error);
            ostrel_object_free(error);
        }
        EXPECT_EQ(account, nullptr);
        return p;
    }
    p.account = account;
    p.has_ca_file = ca_file != nullptr;
    if (ca_file)
        p.ca_file = ca_file;
    free(account);
    free(ca_file);
    return p;
}

bool starts_with(const std::string &text, const std::string &prefix)
{
    return text.rfind(prefix, 0) == 0;
}

TEST(config_parse, values_defaults_and_extra_keys)
{
    parsed p = parse(R"({"account": "photos"})");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.account, "photos");
    EXPECT_TRUE(p.adls);
    EXPECT_FALSE(p.has_ca_file);

    p = parse(R"({"account": "acct:127.0.0.1:10000/acct", "adls": false,
                  "ca_file": "/etc/ca.pem", "region": "west", "n": 3})");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_FALSE(p.adls);
}

TEST(config_parse, rejected_documents)
{
    const char *bad_account[] = {
        R"({"account": "a", "adls": 1})",
        R"({"adls": true})",
        R"({"account": 7})",
        R"(["account", "a"])",
        R"({"account": "a", "ca_file": 1})",
        R"({"account": ""})",
    };
    for (const char *text : bad_account) {
        parsed p = parse(text);
        EXPECT_FALSE(p.ok) << text;
        EXPECT_TRUE(starts_with(p.error, "Error parsing storage account: ")) << p.error;
    }
    // A bare string is not even accepted as a document by the parser.
    for (const char *text : {"{\"account\": ", "", "account=a", "\"a\""}) {
        parsed p = parse(text);
        EXPECT_FALSE(p.ok) << text;
        EXPECT_TRUE(starts_with(p.error, "Error loading collection storage policy: ")) << p.error;
    }
}

TEST(config_parse, storage_tuning_keys_and_their_ranges)
{
    parsed p = parse(R"({"account": "a"})");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.tuning.retry_attempts, 0);
    EXPECT_EQ(p.tuning.retry_max_delay_ms, 0);

    EXPECT_EQ(p.tuning.upload_block_mib, 0);
    EXPECT_EQ(p.tuning.upload_parallel, 0);
    EXPECT_FALSE(p.tuning.store_md5);

    struct {
        const char *members;
        int32_t attempts, max_delay, block_mib, parallel;
        bool md5;
    } good[] = {
        {R"("retry_attempts": 1, "retry_max_delay_ms": 1, "upload_block_mib": 1,
            "upload_parallel": 1, "store_md5": true)",
         1, 1, 1, 1, true},
        {R"("retry_attempts": 10, "retry_max_delay_ms": 300000, "upload_block_mib": 100,
            "upload_parallel": 16, "store_md5": false)",
         10, 300000, 100, 16, false},
    };
    for (const auto &g : good) {
        p = parse((std::string(R"({"account": "a", )") + g.members + "}").c_str());
        ASSERT_TRUE(p.ok) << g.members << p.error;
        EXPECT_EQ(p.tuning.retry_attempts, g.attempts) << g.members;
        EXPECT_EQ(p.tuning.retry_max_delay_ms, g.max_delay) << g.members;
        EXPECT_EQ(p.tuning.upload_block_mib, g.block_mib) << g.members;
        EXPECT_EQ(p.tuning.upload_parallel, g.parallel) << g.members;
        EXPECT_EQ(p.tuning.store_md5, g.md5) << g.members;
    }

    const char *bad[] = {
        R"("retry_attempts": 0)",
        R"("retry_attempts": 11)",
        R"("retry_attempts": -1)",
        R"("retry_attempts": 2.0)",
        R"("retry_attempts": "3")",
        R"("retry_attempts": true)",
        R"("retry_max_delay_ms": 0)",
        R"("retry_max_delay_ms": 300001)",
        R"("retry_max_delay_ms": 4294967296)",
        R"("retry_max_delay_ms": null)",
        R"("upload_block_mib": 0)",
        R"("upload_block_mib": 101)",
        R"("upload_parallel": 17)",
        R"("store_md5": 1)",
        R"("store_md5": "yes")",
    };
    for (const char *members : bad) {
        p = parse((std::string(R"({"account": "a", )") + members + "}").c_str());
        EXPECT_FALSE(p.ok) << members;
        std::string key = std::string(members).substr(0, std::string(members).find(':'));
        EXPECT_TRUE(starts_with(p.error, "Error in storage configuration: " + key + " must be"))
            << p.error;
    }
    // Parallel requests each hold a block: there must be a block size to hold.
    p = parse(R"({"account": "a", "upload_parallel": 4})");
    EXPECT_FALSE(p.ok);
    EXPECT_TRUE(starts_with(p.error, "Error in storage configuration: \"upload_parallel\" needs"))
        << p.error;
}

} // namespace
