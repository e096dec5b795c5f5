// Remove directory: folder markers go, blobs below them stay; containers go
// only when OSTREL_AZURE_DELETE_CONTAINERS is set.
#include "tests/connector/itest_support.h"

#include <cstdlib>

namespace
{

class rmdir_itest : public connector_itest::plugin_test
{
  protected:
    void TearDown() override { unsetenv("OSTREL_AZURE_DELETE_CONTAINERS"); }
};

TEST_F(rmdir_itest, marker_goes_and_blobs_below_stay_listed)
{
    auto session = open();
    std::string c = new_container("marker");
    ASSERT_TRUE(command(*session, OSTREL_GFS_CMD_MKD, "/" + c + "/d").error.ok);
    az_itest::put_text(seed.get(), c, "d/x", "kept");

    ostrel_host::command_result removed = command(*session, OSTREL_GFS_CMD_RMD, "/" + c + "/d");
    ASSERT_TRUE(removed.error.ok) << removed.error.text;
    EXPECT_NE(az_itest::head_blob(seed.get(), c, "d").status, AZ_OK);
    EXPECT_EQ(az_itest::head_blob(seed.get(), c, "d/x").status, AZ_OK);
    ostrel_host::stat_result listing = stat_ok(*session, "/" + c + "/d", false);
    EXPECT_EQ(names(listing), std::vector<std::string>({".", "x"}));

    // now only a prefix: nothing to remove, and nothing is removed
    ostrel_host::command_result again = command(*session, OSTREL_GFS_CMD_RMD, "/" + c + "/d");
    EXPECT_EQ(again.error.response_error_code, "PATH_NOT_FOUND") << again.error.text;
    EXPECT_EQ(az_itest::head_blob(seed.get(), c, "d/x").status, AZ_OK);
}

TEST_F(rmdir_itest, container_goes_only_when_enabled)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("whole");
    az_itest::put_text(seed.get(), c, "x", "data");

    unsetenv("OSTREL_AZURE_DELETE_CONTAINERS");
    proxy.clear_log();
    ostrel_host::command_result refused = command(*session, OSTREL_GFS_CMD_RMD, "/" + c);
    EXPECT_FALSE(refused.error.ok);
    EXPECT_NE(refused.error.text.find("NotSupported"), std::string::npos) << refused.error.text;
    EXPECT_TRUE(proxy.requests().empty());
    EXPECT_EQ(az_itest::head_blob(seed.get(), c, "x").status, AZ_OK);

    setenv("OSTREL_AZURE_DELETE_CONTAINERS", "", 1);
    ostrel_host::command_result removed = command(*session, OSTREL_GFS_CMD_RMD, "/" + c);
    ASSERT_TRUE(removed.error.ok) << removed.error.text;
    EXPECT_EQ(session->stat("/" + c, true).error.response_error_code, "PATH_NOT_FOUND");
}

} // namespace
