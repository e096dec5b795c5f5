#include <gtest/gtest.h>

#include <string>

#include "az/block_id.h"
#include "blob_service/encoding.h"

namespace
{

// 48 characters of text, so 64 of base64 without padding, whatever the block's number.
TEST(block_id, fixed_length_texts)
{
    const std::string upload = "0f8fad5b-d9cb-469f-a165-70867728950e";
    for (auto [index, text] : {std::pair<uint64_t, const char *>{0, "-----------0"},
                               {2, "-----------2"},
                               {49999, "-------49999"}}) {
        std::string id = ostrel_az::block_id(upload, index);
        auto bytes = azure::blob_service::from_base64(id);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), upload + text);
        EXPECT_EQ(id.size(), 64u);
    }
    EXPECT_THROW(ostrel_az::block_id(std::string(47, 'x'), 10), std::length_error);
    EXPECT_NO_THROW(ostrel_az::block_id(std::string(47, 'x'), 9));
}

} // namespace
