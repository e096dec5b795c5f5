// The root of the namespace: container listings batched 32 entries at a time.
// This program has an emulator of its own, so it knows every container there is.
#include "tests/connector/itest_support.h"

#include <algorithm>

namespace
{

class stat_root_itest : public connector_itest::plugin_test
{
};

TEST_F(stat_root_itest, container_listings_arrive_in_batches_of_32)
{
    auto session = open();
    std::vector<std::string> made;
    auto make = [&](int count) {
        for (int i = 0; i < count; i++)
            made.push_back(new_container("root"));
    };

    // "." and 31 containers fill exactly one batch: the final answer is empty.
    make(31);
    std::vector<int> partials;
    ostrel_host::stat_result listing = session->stat(
        "/", false, [&](const ostrel_gfs_stat_t *, int count) { partials.push_back(count); });
    ASSERT_TRUE(listing.error.ok) << listing.error.text;
    EXPECT_EQ(listing.batches, std::vector<int>({32}));
    EXPECT_EQ(partials, std::vector<int>({32}));
    EXPECT_EQ(listing.entries.size(), 32u);

    // 71 entries: two partial answers of 32, a final answer of 7.
    make(39);
    ostrel_host::stat_result full = stat_ok(*session, "/", false);
    EXPECT_EQ(full.batches, std::vector<int>({32, 32}));
    ASSERT_EQ(full.entries.size(), 71u);

    std::vector<std::string> listed = names(full);
    EXPECT_EQ(listed[0], ".");
    EXPECT_EQ(full.entries[0].dev, 0);
    EXPECT_EQ(full.entries[0].ino, hash("/"));
    std::vector<std::string> containers(listed.begin() + 1, listed.end());
    std::sort(containers.begin(), containers.end());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(containers, made);
    const ostrel_gfs_stat_t *one = entry_named(full, made[5]);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->mode, 040700);
    EXPECT_EQ(one->ino, hash(made[5]));
    EXPECT_EQ(one->dev, hash("/"));
    EXPECT_EQ(one->mtime, -1);
}

TEST_F(stat_root_itest, file_only_stat_of_containers)
{
    auto session = open();
    std::string container = new_container("head");

    // "/c/" is the same container, not a blob with an empty name
    ostrel_host::stat_result slash = stat_ok(*session, "/" + container + "/", true);
    EXPECT_EQ(names(slash), std::vector<std::string>({container}));

    std::string missing = "/" + ostrel_test::unique_name("missing");
    ostrel_host::stat_result absent = session->stat(missing, true);
    EXPECT_EQ(absent.error.reply_code, 550);
    EXPECT_EQ(absent.error.response_error_code, "PATH_NOT_FOUND");
    EXPECT_NE(absent.error.text.find(missing), std::string::npos) << absent.error.text;
    EXPECT_TRUE(absent.entries.empty());
}

} // namespace
