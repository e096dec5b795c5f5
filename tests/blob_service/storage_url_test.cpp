#include "blob_service/storage_account.h"
#include "blob_service/storage_url.h"

#include <gtest/gtest.h>

namespace bs = azure::blob_service;

namespace
{

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
