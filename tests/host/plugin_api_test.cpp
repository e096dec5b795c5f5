// The host's C interface for plug-ins: error objects and result handles with
// the text a user reads, hash tables and the string hash plug-ins use for
// inode numbers, the debug variable, and the extension registry.
#include "host/ostrel_host.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

// What take_error makes of each kind of result: the codes a client acts on,
// the errno, and the text the user reads; the object leaves the registry.
TEST(ErrorText, TakeErrorReadsTheChainAndRemovesIt)
{
    EXPECT_TRUE(ostrel_host::take_error(OSTREL_SUCCESS).ok);
    // Plug-in messages end in "\n": the user's text does not.
    ostrel_object_t *cause =
        ostrel_error_construct_error(nullptr, nullptr, OSTREL_ERROR_TYPE_AZURE, "module",
                                     "to_error", 12, "Azure Error accessing \"%s\": 404\n", "/c/k");
    ostrel_result_t nomem = ostrel_i_gfs_error_system(0, ENOMEM, "System error in %s", "malloc");
    EXPECT_EQ(ostrel_error_system_errno(ostrel_error_peek(nomem)), ENOMEM);
    struct {
        ostrel_result_t result;
        int reply_code;
        const char *response_error_code;
        int system_errno;
        const char *text;
    } cases[] = {
        {ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
             nullptr, cause, 550, "PATH_NOT_FOUND", "GridFTP-Path: \"%s\"", "/c/k")),
         550, "PATH_NOT_FOUND", 0,
         "550 PATH_NOT_FOUND: GridFTP-Path: \"/c/k\"\nAzure Error accessing \"/c/k\": 404"},
        {nomem, 0, "", ENOMEM, "System error in malloc: Cannot allocate memory"},
        {ostrel_i_gfs_error_system(451, ENOENT, "open %s", "/tmp/x"), 451, "", ENOENT,
         "451\nopen /tmp/x: No such file or directory"},
        {ostrel_i_gfs_error_system(0, 0, "ostrel_thread_create"), 0, "", 0, "ostrel_thread_create"},
        // a construction that ran out of memory hands NULL to put: still a failure
        {ostrel_error_put(nullptr), 0, "", 0,
         "operation failed without error details (result 0xffffffff)"},
    };
    for (const auto &c : cases) {
        ostrel_host::error_info info = ostrel_host::take_error(c.result);
        EXPECT_FALSE(info.ok) << c.text;
        EXPECT_EQ(info.reply_code, c.reply_code) << c.text;
        EXPECT_EQ(info.response_error_code, c.response_error_code) << c.text;
        EXPECT_EQ(info.system_errno, c.system_errno) << c.text;
        EXPECT_EQ(info.text, c.text);
        EXPECT_EQ(ostrel_error_peek(c.result), nullptr) << c.text;
    }
    char *none = ostrel_error_print_friendly(nullptr);
    EXPECT_NE(std::string(none ? none : ""), "");
    free(none);
}

TEST(ErrorRegistry, ConcurrentPutsGetDistinctHandles)
{
    const int threads = 8, per_thread = 4000;
    std::vector<ostrel_result_t> handles(threads * per_thread);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([&handles, t] {
            for (int n = t * per_thread; n < (t + 1) * per_thread; n++)
                handles[n] = ostrel_error_put(
                    ostrel_error_construct_error(nullptr, nullptr, 0, "f", "g", n, "error %d", n));
        });
    }
    for (std::thread &w : workers)
        w.join();
    for (int n = 0; n < threads * per_thread; n++) {
        ostrel_object_t *error = ostrel_error_get(handles[n]);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(std::string(ostrel_error_get_text(error)), "error " + std::to_string(n));
        ostrel_object_free(error);
    }
}

TEST(StringHash, KnownValues)
{
    // ELF hash values computed independently (python3, the textbook algorithm).
    struct {
        const char *text;
        int limit;
        int expected;
    } cases[] = {
        {"/", 0x7fffffff, 47},
        {"", 0x7fffffff, 0},
        {"photos/2024/", 0x7fffffff, 55205391},
        {"a-very-long-container-name-0123456789", 0x7fffffff, 65309881},
        {"photos", 1024, 867},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ostrel_hashtable_string_hash((void *)c.text, c.limit), c.expected) << c.text;
    }
    EXPECT_EQ(ostrel_hashtable_string_hash(nullptr, 0x7fffffff), 0);
}

int destroyed = 0;
void count_destroy(void *)
{
    destroyed++;
}

int bad_hash(void *key, int limit)
{
    return *static_cast<const char *>(key) == 'n' ? -7 : limit + 5;
}

TEST(HashTable, OutOfRangeHashDoesNotEscapeTable)
{
    ostrel_hashtable_t table;
    ASSERT_EQ(ostrel_hashtable_init(&table, 3, bad_hash, ostrel_hashtable_string_keyeq), 0);
    int a = 1, b = 2;
    EXPECT_EQ(ostrel_hashtable_insert(&table, (void *)"neg", &a), 0);
    EXPECT_EQ(ostrel_hashtable_insert(&table, (void *)"big", &b), 0);
    EXPECT_EQ(ostrel_hashtable_lookup(&table, (void *)"neg"), &a);
    EXPECT_EQ(ostrel_hashtable_lookup(&table, (void *)"big"), &b);
    destroyed = 0;
    ostrel_hashtable_destroy_all(&table, count_destroy);
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(table, nullptr);
}

const char *const var = "OSTREL_HOST_TEST_DEBUG";
const char *const names = "TRACE INFO DEBUG WARNING ERROR";

struct debug_fixture : ::testing::Test {
    ostrel_debug_handle_t handle{};
    std::string warning;

    void init(const char *value)
    {
        if (value)
            setenv(var, value, 1);
        else
            unsetenv(var);
        ::testing::internal::CaptureStderr();
        ostrel_debug_init(var, names, &handle);
        warning = ::testing::internal::GetCapturedStderr();
    }
    void TearDown() override
    {
        if (handle.using_file && handle.file)
            fclose(handle.file);
        unsetenv(var);
    }
};

// A bad text turns logging off with one warning that names the variable.
TEST_F(debug_fixture, LevelsOptionsAndTimestampLevels)
{
    struct {
        const char *value;
        uint32_t levels;
        bool thread_ids;
        uint32_t timestamp_levels;
        bool warns;
    } cases[] = {
        {"ERROR", 16, false, 0, false},
        {"error|Warning", 24, false, 0, false},
        {"TRACE | INFO", 3, false, 0, false},
        {"all|ERROR", 31, false, 0, false},
        {"16", 16, false, 0, false},
        {"0x80000001", 0x80000001u, false, 0, false},
        {"ERROR,-,thread_ids", 16, true, 0, false},
        {"ERROR,,1", 16, true, 0, false},
        {"ERROR,,0", 16, false, 0, false},
        {"ALL,,,TRACE", 31, false, 1, false},
        {"ALL,,THREAD_IDS,0x18", 31, true, 24, false},
        {nullptr, 0, false, 0, false},
        {"", 0, false, 0, false},
        {"BOGUS", 0, false, 0, true},
        {"ERROR|", 0, false, 0, true},
        {"ERROR,,frobnicate", 0, false, 0, true},
        {"1,-,0,2,5", 0, false, 0, true},
        {"0x1ffffffff", 0, false, 0, true},
        {"12abc", 0, false, 0, true},
        {"ERROR,,,NOPE", 0, false, 0, true},
        {"ERROR,/nonexistent-dir/x/trace.log", 0, false, 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        init(c.value);
        EXPECT_EQ(handle.levels, c.levels);
        EXPECT_EQ(handle.file, c.levels ? stderr : nullptr);
        EXPECT_FALSE(handle.using_file);
        EXPECT_EQ(handle.thread_ids, c.thread_ids);
        EXPECT_EQ(handle.timestamp_levels, c.timestamp_levels);
        EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), c.warns ? 1 : 0) << warning;
        EXPECT_EQ(warning.find(var) != std::string::npos, c.warns) << warning;
    }
    init("WARN");
    // the warning names what was wrong and what would have been right
    EXPECT_NE(warning.find("\"WARN\""), std::string::npos) << warning;
    EXPECT_NE(warning.find("WARNING"), std::string::npos) << warning;
}

TEST_F(debug_fixture, FileIsOpenedForAppendingOnlyWithLevels)
{
    char path[] = "/tmp/ostrel-debug-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "old\n", 4), 4);
    close(fd);
    std::string never = std::string(path) + ".never";
    init(("0," + never).c_str());
    EXPECT_EQ(handle.file, nullptr);
    EXPECT_NE(access(never.c_str(), F_OK), 0);

    init(("ERROR," + std::string(path)).c_str());
    ASSERT_NE(handle.file, nullptr);
    EXPECT_NE(handle.file, stderr);
    EXPECT_TRUE(handle.using_file);
    fputs("new\n", handle.file);
    fclose(handle.file);
    handle.file = nullptr;
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old\nnew\n");
    unlink(path);
}

TEST(ExtensionRegistry, NameTakenOnceUntilRemoved)
{
    auto *registry = &ostrel_i_gfs_dsi_registry;
    void *key = (void *)"registry_test_dsi";
    int first = 1, second = 2;
    ASSERT_EQ(ostrel_extension_registry_add(registry, key, nullptr, &first), 0);
    EXPECT_NE(ostrel_extension_registry_add(registry, key, nullptr, &second), 0);
    EXPECT_EQ(ostrel_extension_lookup(registry, "registry_test_dsi"), &first);
    EXPECT_EQ(ostrel_extension_lookup(registry, nullptr), nullptr);
    EXPECT_EQ(ostrel_extension_registry_remove(registry, key), &first);
    EXPECT_EQ(ostrel_extension_registry_remove(registry, key), nullptr);
}

} // namespace
