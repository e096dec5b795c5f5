// Access tokens: expiry parsing, the renewal threshold, and loading and
// renewing through the host's credential documents.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace
{

TEST(parse_date, offsets_fraction_and_rejected_texts)
{
    struct row {
        const char *text;
        time_t seconds;
    };
    const row rows[] = {
        {"2024-03-01T12:00:00.000000+00:00", 1709294400},
        {"2024-03-01T12:00:00.123456+00:00", 1709294400},
        {"2024-03-01T12:00:00.000000+02:00", 1709287200}, // two hours earlier
        {"2024-03-01T12:00:00.000000-05:30", 1709314200}, // five and a half hours later
        {"2024-03-01T00:30:00.5+01:30", 1709247600},      // across midnight into February
        // Thirty minutes behind UTC: the sign is the text's, not the hour field's.
        {"2024-03-01T12:00:00.000000-00:30", 1709296200},
        {"2024-03-01T12:00:00.000000+00:30", 1709292600},
        // the edges of every field
        {"2024-12-31T23:59:59.0+00:00", 1735689599},
        {"2024-01-01T00:00:00.0-23:59", 1704153540},
        {"2024-01-01T00:00:00.0+23:00", 1703984400},
        {"2016-12-31T23:59:60.0+00:00", 1483228800},
    };
    for (const row &r : rows) {
        time_t seconds = 0;
        EXPECT_EQ(ostrel_i_azure_parse_date(r.text, &seconds), OSTREL_SUCCESS) << r.text;
        EXPECT_EQ(seconds, r.seconds) << r.text;
    }
    // Rejected texts leave the result alone and name themselves.
    for (const char *text : {"2024-03-01T12:00:00+00:00", "2024-03-01T12:00:00.000000Z",
                             "2024-03-01T12:00:00Z", "", "tomorrow", "2024-03-01",
                             // fields out of range name no instant
                             "2024-13-01T12:00:00.000000+00:00", "2024-00-01T12:00:00.0+00:00",
                             "2024-03-00T12:00:00.0+00:00", "2024-03-32T12:00:00.0+00:00",
                             "2024-03-01T24:00:00.0+00:00", "2024-03-01T12:60:00.0+00:00",
                             "2024-03-01T12:00:61.0+00:00", "2024-03-01T-1:00:00.0+00:00",
                             "2024-03-01T12:00:00.0+24:00", "2024-03-01T12:00:00.0-24:00",
                             "2024-03-01T12:00:00.0+00:60", "2024-03-01T12:00:00.0+00:-1"}) {
        time_t seconds = 42;
        ostrel_result_t result = ostrel_i_azure_parse_date(text, &seconds);
        ASSERT_NE(result, OSTREL_SUCCESS) << text;
        EXPECT_EQ(seconds, 42) << text;
        ostrel_object_t *error = ostrel_error_get(result);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(std::string(ostrel_error_get_text(error)),
                  std::string("Error parsing time string: ") + text + "\n");
        ostrel_object_free(error);
    }
}

TEST(token_renewal, threshold_is_99_seconds)
{
    const time_t now = 1709294400;
    EXPECT_FALSE(ostrel_i_azure_token_needs_renewal(now, now + 3600));
    EXPECT_FALSE(ostrel_i_azure_token_needs_renewal(now, now + 100));
    EXPECT_TRUE(ostrel_i_azure_token_needs_renewal(now, now + 99));
    EXPECT_TRUE(ostrel_i_azure_token_needs_renewal(now, now));
    EXPECT_TRUE(ostrel_i_azure_token_needs_renewal(now, now - 10));
}

// A document with an expiry lifetime seconds from now, in the form the
// identity service writes.
std::string creds(const std::string &token, long lifetime)
{
    time_t when = time(nullptr) + lifetime;
    struct tm tm;
    gmtime_r(&when, &tm);
    char expiry[64];
    strftime(expiry, sizeof expiry, "%Y-%m-%dT%H:%M:%S.000000+00:00", &tm);
    return "{\"access_token\":\"" + token + "\",\"token_expiry\":\"" + expiry +
           "\",\"sub\":\"alice\"}";
}

// Runs body during a host session start, where the host hands out the
// session's documents for the start operation, on a handle built as session
// start builds it.
class token_host : public ::testing::Test
{
  protected:
    std::mutex lock;
    std::map<std::string, std::optional<std::string>> documents;
    std::map<std::string, int> asked;

    void run(const std::function<void(ostrel_i_azure_handle_t *)> &body)
    {
        static std::function<void(ostrel_gfs_operation_t)> *current;
        std::function<void(ostrel_gfs_operation_t)> start = [&](ostrel_gfs_operation_t op) {
            ostrel_i_azure_handle_t handle;
            memset(&handle, 0, sizeof handle);
            ostrel_mutex_init(&handle.token_lock, nullptr);
            handle.token_refresh = ostrel_i_azure_token_refresh;
            handle.op = op;
            body(&handle);
            if (handle.client)
                AZ_destroy_client(handle.client);
            free(handle.access_token);
            free(handle.sub);
            ostrel_mutex_destroy(&handle.token_lock);
        };
        current = &start;
        ostrel_gfs_storage_iface_t dsi = {};
        dsi.init_func = [](ostrel_gfs_operation_t op, ostrel_gfs_session_info_t *info) {
            (*current)(op);
            ostrel_gridftp_server_finished_session_start(op, OSTREL_FAILURE, nullptr,
                                                         info->username, (char *)"/");
        };
        ostrel_host::session_options options;
        options.documents = [this](const std::string &key) -> std::optional<std::string> {
            std::lock_guard<std::mutex> guard(lock);
            asked[key]++;
            auto it = documents.find(key);
            return it == documents.end() ? std::nullopt : it->second;
        };
        ostrel_host::session session(&dsi, options);
        session.start();
        current = nullptr;
    }

    static std::string failure_text(ostrel_result_t result)
    {
        ostrel_host::error_info info = ostrel_host::take_error(result);
        EXPECT_FALSE(info.ok);
        return info.text;
    }
};

TEST_F(token_host, missing_renewal_keeps_a_still_valid_token)
{
    documents["creds"] = creds("old", 50);
    run([&](ostrel_i_azure_handle_t *handle) {
        ASSERT_EQ(ostrel_azure_update_token(handle), OSTREL_SUCCESS);
        EXPECT_EQ(ostrel_i_azure_token_refresh(handle), OSTREL_SUCCESS);
        EXPECT_STREQ(handle->access_token, "old");
        // An unreadable or already expired renewal is treated the same way.
        for (const std::string &renewal :
             {std::string("{\"access_token\": \"new\""), creds("new", -1)}) {
            documents["renew-creds"] = renewal;
            EXPECT_EQ(ostrel_i_azure_token_refresh(handle), OSTREL_SUCCESS);
            EXPECT_STREQ(handle->access_token, "old");
        }
    });
    EXPECT_EQ(asked["renew-creds"], 3);
}

TEST_F(token_host, missing_renewal_of_an_expired_token_fails_clearly)
{
    documents["creds"] = creds("old", -10);
    run([&](ostrel_i_azure_handle_t *handle) {
        ASSERT_EQ(ostrel_azure_update_token(handle), OSTREL_SUCCESS);
        std::string text = failure_text(ostrel_i_azure_token_refresh(handle));
        EXPECT_NE(text.find("access token expired and the host supplied no renewal"),
                  std::string::npos)
            << text;
        EXPECT_NE(handle->access_token, nullptr); // never a null token for the client

        // The host handing back the same expired token renews nothing either.
        for (const std::string &renewal :
             {std::string("{\"access_token\": \"secret-xyz\", \"sub\": 1}"),
              creds("secret-xyz", -10)}) {
            documents["renew-creds"] = renewal;
            text = failure_text(ostrel_i_azure_token_refresh(handle));
            EXPECT_NE(text.find("access token expired and the host supplied no renewal"),
                      std::string::npos)
                << text;
            EXPECT_EQ(text.find("secret-xyz"), std::string::npos) << text;
            EXPECT_STREQ(handle->access_token, "old");
        }
    });
}

TEST_F(token_host, bad_documents_never_show_the_token)
{
    run([&](ostrel_i_azure_handle_t *handle) {
        documents["creds"] = "{\"access_token\": secret-abc, \"sub\": \"a\"}";
        std::string text = failure_text(ostrel_azure_update_token(handle));
        EXPECT_NE(text.find("Error loading user credential: "), std::string::npos) << text;
        EXPECT_EQ(text.find("secret-abc"), std::string::npos) << text;

        documents["creds"] = "{\"access_token\": \"secret-abc\", \"sub\": \"a\"}";
        ostrel_host::error_info info = ostrel_host::take_error(ostrel_azure_update_token(handle));
        EXPECT_EQ(info.reply_code, 500);
        EXPECT_EQ(info.response_error_code, "INTERNAL_ERROR");
        EXPECT_NE(info.text.find("GridFTP-Error:Error unpacking collection storage policy: "),
                  std::string::npos)
            << info.text;
        EXPECT_EQ(info.text.find("secret-abc"), std::string::npos) << info.text;

        documents["creds"] =
            "{\"access_token\": \"secret-abc\", \"sub\": \"a\", \"token_expiry\": \"soon\"}";
        text = failure_text(ostrel_azure_update_token(handle));
        EXPECT_NE(text.find("Error parsing time string: soon"), std::string::npos) << text;
        EXPECT_EQ(handle->access_token, nullptr);
    });
}

} // namespace
