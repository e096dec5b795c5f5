#include <gtest/gtest.h>

#include <string>

#include "az/block_id.h"
#include "blob_service/encoding.h"

namespace
{

const std::string upload_id = "0f8fad5b-d9cb-469f-a165-70867728950e";

std::string decoded(const std::string &id)
{
    auto bytes = azure::blob_service::from_base64(id);
    return std::string(bytes.begin(), bytes.end());
}

TEST(block_id, fixed_length_texts)
{
    EXPECT_EQ(decoded(ostrel_az::block_id(upload_id, 0)),
              "0f8fad5b-d9cb-469f-a165-70867728950e-----------0");
    EXPECT_EQ(decoded(ostrel_az::block_id(upload_id, 2)),
              "0f8fad5b-d9cb-469f-a165-70867728950e-----------2");
    EXPECT_EQ(decoded(ostrel_az::block_id(upload_id, 49999)),
              "0f8fad5b-d9cb-469f-a165-70867728950e-------49999");
    // 48 bytes of text are exactly 64 base64 characters, without padding.
    EXPECT_EQ(ostrel_az::block_id(upload_id, 0).size(), 64u);
    EXPECT_EQ(ostrel_az::block_id(upload_id, 12345).size(), 64u);
}

TEST(block_id, too_long_is_refused)
{
    EXPECT_THROW(ostrel_az::block_id(std::string(47, 'x'), 10), std::length_error);
    EXPECT_NO_THROW(ostrel_az::block_id(std::string(47, 'x'), 9));
}

} // namespace
