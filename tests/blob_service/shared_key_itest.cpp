// Shared-key signing checked by the emulator itself: it recomputes the signature of every
// request, including the signed length, range, metadata and access-condition headers, so a
// misplaced line of the signed text is refused here.
#include "blob_service/blob_client.h"
#include "blob_service/encoding.h"

#include <sstream>

#include <gtest/gtest.h>

#include "itest_helpers.h"

namespace bs = azure::blob_service;

namespace
{

TEST(shared_key_itest, every_request_kind_is_accepted)
{
    ostrel_test::ignore_proxy_environment();
    ostrel_test::emulator e = ostrel_test::emulator_from_env();
    ASSERT_FALSE(e.oauth);
    ASSERT_FALSE(e.account_key.empty());
    auto client = ostrel_test::make_client(
        e, std::make_shared<bs::shared_key_credential>(e.account, e.account_key));
    const std::string container = ostrel_test::unique_name("bssk");

    auto created = client->create_container(container).get();
    ASSERT_TRUE(created.success()) << created.error().code << " " << created.error().code_name
                                   << " " << created.error().message;

    const std::string data = ostrel_test::pattern(4000, 11);
    std::istringstream in(data);
    auto put = client
                   ->upload_block_blob_from_stream(container, "dir/a b+c", in,
                                                   {{"ostrel_modtime", "99"}}, data.size())
                   .get();
    ASSERT_TRUE(put.success()) << put.error().code << " " << put.error().message;

    std::ostringstream part;
    auto ranged = client->download_blob_to_stream(container, "dir/a b+c", 100, 50, part).get();
    ASSERT_TRUE(ranged.success()) << ranged.error().code << " " << ranged.error().message;
    EXPECT_TRUE(part.str() == data.substr(100, 50));

    auto props = client->get_blob_properties(container, "dir/a b+c").get();
    ASSERT_TRUE(props.success()) << props.error().code;

    std::istringstream block(data);
    const std::string id = bs::to_base64(std::vector<uint8_t>{'i', 'd', '?', '>'});
    ASSERT_TRUE(client->upload_block_from_stream(container, "blocks", id, block, data.size())
                    .get()
                    .success());
    using item = bs::put_block_list_request_base::block_item;
    auto committed =
        client->put_block_list(container, "blocks", {{id, item::latest}}, {{"k", "v"}}, {"", "*"})
            .get();
    ASSERT_TRUE(committed.success()) << committed.error().code << " " << committed.error().message;

    auto listing = client->list_blobs_segmented(container, "/", "", "dir/", 100).get();
    ASSERT_TRUE(listing.success()) << listing.error().code;
    ASSERT_EQ(listing.response().blobs.size(), 1u);
    auto containers = client->list_containers_segmented(container, "", 0, true).get();
    ASSERT_TRUE(containers.success()) << containers.error().code;
    EXPECT_TRUE(client->get_container_properties(container).get().success());

    EXPECT_TRUE(client->delete_blob(container, "dir/a b+c", false, {props.response().etag, ""})
                    .get()
                    .success());
    EXPECT_TRUE(client->delete_blob(container, "blocks").get().success());
    EXPECT_TRUE(client->delete_container(container).get().success());
}

} // namespace
