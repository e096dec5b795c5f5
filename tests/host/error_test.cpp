// Error objects, the result registry and the text a user reads.
#include "host/ostrel_host.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::string friendly(ostrel_object_t *error)
{
    char *text = ostrel_error_print_friendly(error);
    std::string copy = text ? text : "<null>";
    free(text);
    return copy;
}

ostrel_object_t *azure_not_found(const char *path)
{
    ostrel_object_t *cause = ostrel_error_construct_error(
        nullptr, nullptr, OSTREL_ERROR_TYPE_AZURE, "module", "to_error", 12,
        "Azure Error accessing \"%s\": %s %s: %s: %s", path, "404", "ErrorBlobNotFound",
        "The specified blob does not exist.", "BlobNotFound");
    return ostrel_gfs_ftp_response_error_construct(nullptr, cause, 550, "PATH_NOT_FOUND", "%s%s%s",
                                                   "GridFTP-Path: \"", path, "\"");
}

TEST(ErrorText, TrailingNewlinesAndNoError)
{
    // Plug-in messages end in "\n"; the raw text keeps it, the user's text does not.
    ostrel_object_t *plain = ostrel_error_construct_error(
        nullptr, nullptr, OSTREL_ERROR_TYPE_PLUGIN, "config_parse", "parse", 1,
        "Error parsing storage account: %s\n", "wrong type");
    EXPECT_STREQ(ostrel_error_get_text(plain), "Error parsing storage account: wrong type\n");
    EXPECT_EQ(friendly(plain), "Error parsing storage account: wrong type");
    ostrel_object_free(plain);

    char *none = ostrel_error_print_friendly(nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_NE(std::string(none), "");
    free(none);
}

TEST(ErrorText, SystemErrorCarriesErrnoTextAndReplyCode)
{
    ostrel_result_t result =
        ostrel_i_gfs_error_system(0, ENOMEM, "System error%s%s", " in ", "malloc");
    ostrel_object_t *error = ostrel_error_peek(result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(ostrel_error_system_errno(error), ENOMEM);
    EXPECT_EQ(friendly(error), "System error in malloc: Cannot allocate memory");
    EXPECT_EQ(ostrel_host::take_error(result).reply_code, 0);

    ostrel_host::error_info wrapped =
        ostrel_host::take_error(ostrel_i_gfs_error_system(451, ENOENT, "open %s", "/tmp/x"));
    EXPECT_EQ(wrapped.reply_code, 451);
    EXPECT_EQ(wrapped.system_errno, ENOENT);
    EXPECT_EQ(wrapped.text, "451\nopen /tmp/x: No such file or directory");
    ostrel_host::error_info plain =
        ostrel_host::take_error(ostrel_i_gfs_error_system(0, 0, "ostrel_thread_create"));
    EXPECT_EQ(plain.text, "ostrel_thread_create");
    EXPECT_EQ(plain.system_errno, 0);
}

TEST(ErrorRegistry, PeekKeepsGetAndTakeErrorRemove)
{
    ostrel_object_t *error = azure_not_found("/a");
    ostrel_result_t result = ostrel_error_put(error);
    ASSERT_NE(result, OSTREL_SUCCESS);
    ASSERT_NE(result, OSTREL_FAILURE);
    EXPECT_EQ(ostrel_error_peek(result), error);
    EXPECT_EQ(ostrel_error_get(result), error);
    EXPECT_EQ(ostrel_error_get(result), nullptr);
    ostrel_object_free(error);

    EXPECT_TRUE(ostrel_host::take_error(OSTREL_SUCCESS).ok);
    result = ostrel_error_put(azure_not_found("/c/k"));
    ostrel_host::error_info info = ostrel_host::take_error(result);
    EXPECT_FALSE(info.ok);
    EXPECT_EQ(info.reply_code, 550);
    EXPECT_EQ(info.response_error_code, "PATH_NOT_FOUND");
    EXPECT_NE(info.text.find("GridFTP-Path: \"/c/k\"\nAzure Error accessing \"/c/k\""),
              std::string::npos);
    EXPECT_EQ(ostrel_error_peek(result), nullptr);

    // A construction that ran out of memory hands NULL to put: that must not read as success.
    EXPECT_NE(ostrel_error_put(nullptr), OSTREL_SUCCESS);
    EXPECT_EQ(ostrel_error_get(OSTREL_FAILURE), nullptr);
    ostrel_host::error_info generic = ostrel_host::take_error(OSTREL_FAILURE);
    EXPECT_FALSE(generic.ok);
    EXPECT_EQ(generic.reply_code, 0);
    EXPECT_FALSE(generic.text.empty());
}

TEST(ErrorRegistry, ConcurrentPutsGetDistinctHandles)
{
    const int threads = 4, per_thread = 500;
    std::vector<std::vector<ostrel_result_t>> handles(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([&handles, t] {
            for (int i = 0; i < per_thread; i++) {
                handles[t].push_back(ostrel_error_put(ostrel_error_construct_error(
                    nullptr, nullptr, 0, "f", "g", i, "error %d/%d", t, i)));
            }
        });
    }
    for (std::thread &w : workers)
        w.join();
    for (int t = 0; t < threads; t++) {
        for (int i = 0; i < per_thread; i++) {
            ostrel_result_t h = handles[t][i];
            ostrel_object_t *error = ostrel_error_get(h);
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(std::string(ostrel_error_get_text(error)),
                      "error " + std::to_string(t) + "/" + std::to_string(i));
            ostrel_object_free(error);
        }
    }
}

} // namespace
