// Make directory: containers and folder markers, as the blob service sees them.
#include "tests/connector/itest_support.h"

namespace
{

class mkdir_itest : public connector_itest::plugin_test
{
};

TEST_F(mkdir_itest, container_is_made_once)
{
    auto session = open();
    std::string c = "/" + ostrel_test::unique_name("made");
    ostrel_host::command_result made = command(*session, OSTREL_GFS_CMD_MKD, c);
    ASSERT_TRUE(made.error.ok) << made.error.text;
    ostrel_host::stat_result found = stat_ok(*session, c, true);
    EXPECT_EQ(names(found), std::vector<std::string>({c.substr(1)}));

    ostrel_host::command_result again = command(*session, OSTREL_GFS_CMD_MKD, c);
    EXPECT_EQ(again.error.reply_code, 553);
    EXPECT_EQ(again.error.response_error_code, "PATH_EXISTS");
    EXPECT_NE(again.error.text.find(c), std::string::npos) << again.error.text;

    // "/c/" is the container too, not a blob without a name
    std::string slashed = "/" + ostrel_test::unique_name("slashed");
    ASSERT_TRUE(command(*session, OSTREL_GFS_CMD_MKD, slashed + "/").error.ok);
    EXPECT_TRUE(session->stat(slashed, true).error.ok);
}

TEST_F(mkdir_itest, only_the_last_marker_is_made)
{
    auto session = open();
    std::string c = new_container("nested");
    ostrel_host::command_result made = command(*session, OSTREL_GFS_CMD_MKD, "/" + c + "/a/b");
    ASSERT_TRUE(made.error.ok) << made.error.text;

    az_itest::recorder all = az_itest::list_blobs(seed.get(), c, "a/");
    ASSERT_EQ(all.entries.size(), 1u);
    EXPECT_EQ(all.entries[0].name, "a/b");
    EXPECT_TRUE(all.entries[0].is_directory);
    az_itest::recorder parent = az_itest::head_blob(seed.get(), c, "a");
    EXPECT_NE(parent.status, AZ_OK) << "a parent marker was made";
    az_itest::recorder marker = az_itest::head_blob(seed.get(), c, "a/b");
    ASSERT_EQ(marker.status, AZ_OK);
    ASSERT_EQ(marker.entries.size(), 1u);
    EXPECT_TRUE(marker.entries[0].is_directory);
    EXPECT_EQ(marker.entries[0].size, 0u);

    // the parent is still a directory, through its prefix
    ostrel_host::stat_result listing = stat_ok(*session, "/" + c + "/a", false);
    EXPECT_EQ(names(listing), std::vector<std::string>({".", "b"}));
}

TEST_F(mkdir_itest, marker_in_missing_container_fails_with_path)
{
    auto session = open();
    std::string path = "/" + ostrel_test::unique_name("nocontainer") + "/d";
    ostrel_host::command_result made = command(*session, OSTREL_GFS_CMD_MKD, path);
    EXPECT_FALSE(made.error.ok);
    EXPECT_EQ(made.error.response_error_code, "PATH_NOT_FOUND") << made.error.text;
    EXPECT_NE(made.error.text.find(path), std::string::npos) << made.error.text;
}

} // namespace
