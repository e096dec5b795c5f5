// Delete: one blob at a time; container paths are refused without a request.
#include "tests/connector/itest_support.h"

namespace
{

class delete_itest : public connector_itest::plugin_test
{
};

TEST_F(delete_itest, container_paths_are_refused_without_a_request)
{
    ostrel_test::fault_proxy proxy(emu);
    auto session = open(proxy.endpoint());
    std::string c = new_container("keep");
    az_itest::put_text(seed.get(), c, "x", "data");

    proxy.clear_log();
    for (const std::string &path : {"/" + c, "/" + c + "/", std::string("/")}) {
        ostrel_host::command_result refused = command(*session, OSTREL_GFS_CMD_DELE, path);
        EXPECT_FALSE(refused.error.ok) << path;
        EXPECT_EQ(refused.error.system_errno, EINVAL) << path;
    }
    EXPECT_TRUE(proxy.requests().empty());
    EXPECT_EQ(az_itest::head_blob(seed.get(), c, "x").status, AZ_OK);
}

TEST_F(delete_itest, blob_is_deleted_and_missing_one_reported)
{
    auto session = open();
    std::string c = new_container("gone");
    az_itest::put_text(seed.get(), c, "dir/x", "data");

    ostrel_host::command_result deleted =
        command(*session, OSTREL_GFS_CMD_DELE, "/" + c + "/dir/x");
    ASSERT_TRUE(deleted.error.ok) << deleted.error.text;
    EXPECT_NE(az_itest::head_blob(seed.get(), c, "dir/x").status, AZ_OK);

    ostrel_host::command_result missing =
        command(*session, OSTREL_GFS_CMD_DELE, "/" + c + "/dir/x");
    EXPECT_EQ(missing.error.reply_code, 550);
    EXPECT_EQ(missing.error.response_error_code, "PATH_NOT_FOUND");
    EXPECT_NE(missing.error.text.find(c + "/dir/x"), std::string::npos) << missing.error.text;
}

} // namespace
