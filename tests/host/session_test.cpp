// Sessions and operations against the test plug-in, which answers from its
// own threads the way storage plug-ins do.
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace
{

struct session_fixture : ::testing::Test {
    std::unique_ptr<ostrel_host::loaded_module> module;
    const ostrel_gfs_storage_iface_t *dsi = nullptr;
    std::string config = "alpha";
    std::unique_ptr<ostrel_host::session> session;

    void SetUp() override
    {
        setenv("OSTREL_MODULE_PATH", OSTREL_TEST_MODULE_DIR, 1);
        module = ostrel_host::loaded_module::load("ostrel_test_dsi");
        dsi = module->dsi("test_dsi");
        ASSERT_NE(dsi, nullptr);
    }

    ostrel_host::error_info start()
    {
        ostrel_host::session_options o;
        o.documents = [this](const std::string &key) -> std::optional<std::string> {
            if (key == "config")
                return config;
            if (key == "creds")
                throw std::runtime_error("token source failed");
            return std::nullopt;
        };
        o.update_interval = 7;
        session = std::make_unique<ostrel_host::session>(dsi, o);
        return session->start();
    }

    template <typename T> T exported(const char *name)
    {
        return *static_cast<T *>(module->symbol(name));
    }

    ostrel_host::command_result command(int number, const char *path = "/c/d",
                                        std::function<void(const std::string &)> progress = {})
    {
        ostrel_gfs_command_info_t info = {};
        info.command = number;
        info.pathname = const_cast<char *>(path);
        info.cksm_length = -1;
        return session->command(info, progress);
    }
};

TEST_F(session_fixture, StatDeliversPartialAnswersInOrderThenTheFinalOne)
{
    ASSERT_TRUE(start().ok);
    std::vector<std::string> seen;
    std::vector<int> batches;
    std::thread::id caller = std::this_thread::get_id(), partial_thread;
    auto result = session->stat("/c/dir", false, [&](const ostrel_gfs_stat_t *entries, int n) {
        partial_thread = std::this_thread::get_id();
        batches.push_back(n);
        for (int i = 0; i < n; i++)
            seen.push_back(entries[i].name);
    });
    ASSERT_TRUE(result.error.ok) << result.error.text;
    EXPECT_EQ(batches, (std::vector<int>{2, 3}));
    EXPECT_EQ(result.batches, batches);
    EXPECT_NE(partial_thread, caller);
    // names come from the session handle the start handed over
    EXPECT_EQ(seen,
              (std::vector<std::string>{"alpha:1", "alpha:2", "alpha:3", "alpha:4", "alpha:5"}));
    ASSERT_EQ(result.entries.size(), 6u);
    for (size_t i = 0; i < 6; i++) {
        // the plug-in overwrote its buffers after each call: these are the host's copies
        EXPECT_STREQ(result.entries[i].name, ("alpha:" + std::to_string(i + 1)).c_str());
        EXPECT_EQ(result.entries[i].size, (int64_t)(i + 1) * 100);
    }

    auto missing = session->stat("/missing", true);
    EXPECT_EQ(missing.error.reply_code, 550);
    EXPECT_EQ(missing.error.response_error_code, "PATH_NOT_FOUND");
    EXPECT_EQ(missing.error.text, "550 PATH_NOT_FOUND: GridFTP-Path: \"/missing\"\n"
                                  "Azure Error accessing \"/missing\"");
    EXPECT_TRUE(missing.entries.empty());
    EXPECT_EQ(ostrel_error_peek(exported<ostrel_result_t>("ostrel_test_dsi_last_result")), nullptr);
}

TEST_F(session_fixture, SessionEndRunsOnceAndNeverForARefusedStart)
{
    int before = exported<int>("ostrel_test_dsi_destroyed");
    ASSERT_TRUE(start().ok);
    EXPECT_FALSE(session->start().ok);
    session->end();
    session->end();
    session.reset();
    EXPECT_EQ(exported<int>("ostrel_test_dsi_destroyed"), before + 1);

    config = "refuse";
    ostrel_host::error_info started = start();
    EXPECT_EQ(started.reply_code, 530);
    EXPECT_EQ(started.response_error_code, "LOGIN_DENIED");
    EXPECT_EQ(started.text, "530 LOGIN_DENIED");
    EXPECT_NE(session->stat("/c", true).error.text.find("not started"), std::string::npos);
    session.reset();
    EXPECT_EQ(exported<int>("ostrel_test_dsi_destroyed"), before + 1);

    ostrel_gfs_storage_iface_t empty = {};
    ostrel_host::session none(&empty, {});
    EXPECT_NE(none.start().text.find("not supported"), std::string::npos);
}

TEST_F(session_fixture, CommandsSucceedFailAndReportProgress)
{
    ASSERT_TRUE(start().ok);
    EXPECT_TRUE(command(OSTREL_GFS_CMD_MKD).error.ok);

    auto deleted = command(OSTREL_GFS_CMD_DELE, "/c/gone");
    EXPECT_EQ(deleted.error.reply_code, 550);
    EXPECT_EQ(deleted.error.text, "550 PATH_NOT_FOUND: GridFTP-Path: \"/c/gone\"");

    std::vector<std::string> progress;
    auto cksum = command(OSTREL_GFS_CMD_CKSM, "/c/f",
                         [&](const std::string &text) { progress.push_back(text); });
    EXPECT_TRUE(cksum.error.ok);
    EXPECT_EQ(cksum.response, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(progress, (std::vector<std::string>{"100", "200"}));
    EXPECT_EQ(cksum.intermediate, progress);

    // a second finish is ignored and its error released
    ::testing::internal::CaptureStderr();
    auto twice = command(OSTREL_GFS_CMD_RMD);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(twice.error.ok) << twice.error.text;
    EXPECT_NE(log.find("after it was finished"), std::string::npos) << log;
    EXPECT_EQ(ostrel_error_peek(exported<ostrel_result_t>("ostrel_test_dsi_second_result")),
              nullptr);

    // a failing document source means "no document", and the user is told why
    ::testing::internal::CaptureStderr();
    auto reply = command(OSTREL_GFS_CMD_SITE_DSI, "/");
    log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(reply.response, "7 config=alpha creds=none nokey=none");
    EXPECT_NE(log.find("token source failed"), std::string::npos) << log;
}

TEST_F(session_fixture, LongSessionKeepsFewOperationRecords)
{
    ASSERT_TRUE(start().ok);
    FILE *file = tmpfile();
    fputs("some bytes", file);
    fflush(file);
    size_t peak = 0;
    for (int i = 0; i < 10000; i++) {
        if (i % 200 == 0) {
            ostrel_host::file_source source(fileno(file));
            ostrel_host::recv_request upload;
            upload.path = "/c/f";
            upload.from = &source;
            ASSERT_TRUE(session->recv(upload).error.ok);
        } else if (i % 2 == 0) {
            ASSERT_TRUE(session->stat("/c/d", false).error.ok);
        } else {
            ASSERT_TRUE(command(OSTREL_GFS_CMD_MKD).error.ok);
        }
        peak = std::max(peak, session->kept_operations());
    }
    fclose(file);
    // a record waits only for plug-in threads that were running when it finished
    EXPECT_LE(peak, 100u);
    ostrel_host::join_plugin_threads();
    ASSERT_TRUE(command(OSTREL_GFS_CMD_MKD).error.ok);
    EXPECT_EQ(session->kept_operations(), 0u);
}

} // namespace
