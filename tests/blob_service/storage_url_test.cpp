#include "blob_service/storage_account.h"
#include "blob_service/storage_url.h"

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

TEST(storage_url, renders_encoded_path_and_sorted_query)
{
    bs::storage_url url("https://acct.blob.core.windows.net");
    url.append_path("container").append_path("a b/c+d");
    url.add_query("restype", "container").add_query("comp", "list");
    EXPECT_EQ(url.get_encoded_path(), "/container/a%20b/c%2Bd");
    EXPECT_EQ(
        url.to_string(),
        "https://acct.blob.core.windows.net/container/a%20b/c%2Bd?comp=list&restype=container");

    // Values are encoded and repeated keys sorted; no query means no question mark.
    bs::storage_url repeated("http://h");
    repeated.append_path("c");
    repeated.add_query("blockid", "ab+c=").add_query("k", "z").add_query("k", "a");
    EXPECT_EQ(repeated.to_string(), "http://h/c?blockid=ab%2Bc%3D&k=a&k=z");
    bs::storage_url bare("http://h");
    bare.append_path("");
    EXPECT_EQ(bare.to_string(), "http://h/");
}

TEST(storage_account, endpoint_composition)
{
    struct {
        const char *endpoint;
        bool https;
        const char *blob;
    } cases[] = {
        {"", true, "https://acct.blob.core.windows.net"},
        {"", false, "http://acct.blob.core.windows.net"},
        {"127.0.0.1:10000/devstoreaccount1", true, "https://127.0.0.1:10000/devstoreaccount1"},
        {"http://127.0.0.1:10000/devstoreaccount1", true,
         "https://127.0.0.1:10000/devstoreaccount1"},
        {"https://host:1/", false, "http://host:1"},
        {"host:1/seg/", true, "https://host:1/seg/"},
        {"host:1", true, "https://host:1"},
        {"host:1//seg", true, "https://host:1/seg"},
        {"host:1///", true, "https://host:1"},
    };
    for (const auto &c : cases) {
        bs::storage_account account("acct", nullptr, c.https, c.endpoint, false);
        EXPECT_EQ(account.get_url_blob().get_domain(), c.blob) << c.endpoint;
    }
    bs::storage_account cloud("acct", nullptr, true, "", true);
    EXPECT_EQ(cloud.get_url_dfs().get_domain(), "https://acct.dfs.core.windows.net");
    EXPECT_EQ(cloud.get_url_queue().get_domain(), "https://acct.queue.core.windows.net");
    EXPECT_TRUE(cloud.adls());
    bs::storage_account custom("acct", nullptr, true, "h:1/acct", true);
    EXPECT_EQ(custom.get_url_dfs().get_domain(), "https://h:1/acct");
    // Resolved on the way, a dot segment would move every request to another base.
    for (const char *endpoint : {"h:1/acct/..", "h:1/./acct", "h:1/a/../b/"})
        EXPECT_THROW(bs::storage_account("acct", nullptr, true, endpoint, false),
                     std::invalid_argument)
            << endpoint;
}

} // namespace
