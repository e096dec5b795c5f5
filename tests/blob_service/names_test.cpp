#include "blob_service/names.h"

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

TEST(names, dot_segments_are_refused_anywhere_in_a_path)
{
    for (const char *good : {"a", "a/b", "a/b/", ".a", "a./b", "..a/b", "a/...", "a//b", ""})
        EXPECT_EQ(bs::path_error(good), nullptr) << good;
    for (const char *bad : {".", "..", "./a", "../x", "a/./b", "a/../b", "x/..", "x/.", "a/b/../"})
        EXPECT_NE(bs::path_error(bad), nullptr) << bad;
}

TEST(names, account_names_are_what_the_service_gives_out)
{
    for (const char *good : {"abc", "devstoreaccount1", "a23456789012345678901234"})
        EXPECT_EQ(bs::account_name_error(good), nullptr) << good;
    for (const char *bad : {"", "ab", "a234567890123456789012345", "Abc", "a-b", "127.0.0.1",
                            "acct/", "acct#", "acct@evil"})
        EXPECT_NE(bs::account_name_error(bad), nullptr) << bad;
}

TEST(names, endpoints_name_one_host_and_a_plain_base_path)
{
    for (const char *good :
         {"127.0.0.1:10000/devstoreaccount1", "localhost", "https://h.example:443/",
          "[::1]:10000/acct", "h//acct/", "[::ffff:1.2.3.4]", "HTTP://h"})
        EXPECT_EQ(bs::endpoint_error(good), nullptr) << good;
    for (const char *bad :
         {"",     ":80",      "h:0",     "h:65536",   "h:8x",  "user@h",  "h?x",  "h#x",
          "h x",  "h/a/../b", "h/..",    "[::1",      "[zz]",  "[::1]x",  "h\\x", "h/%2e%2e",
          "://h", "//h://h",  "h/x://h", "1http://h", "[3]:1", "[::1::2]"})
        EXPECT_NE(bs::endpoint_error(bad), nullptr) << bad;
}

} // namespace
