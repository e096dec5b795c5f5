// The checksum object once finalized, and the process-wide checksum cache.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// Digests of real data are checked by the transfer and checksum integration tests.
TEST(ChecksumObject, ASpentDigestTakesNoMore)
{
    ostrel_i_az_checksum_t *checksum = nullptr;
    ASSERT_EQ(ostrel_i_az_checksum_init(&checksum, 0), OSTREL_SUCCESS);
    ASSERT_EQ(ostrel_i_az_checksum_finalize(checksum), OSTREL_SUCCESS);
    EXPECT_NE(ostrel_host::take_error(ostrel_i_az_checksum_update(checksum, "x", 1))
                  .text.find("checksum update error"),
              std::string::npos);
    EXPECT_NE(ostrel_host::take_error(ostrel_i_az_checksum_finalize(checksum))
                  .text.find("Can not finalize checksum."),
              std::string::npos);
    // the digest already given stays
    EXPECT_STREQ(ostrel_i_az_checksum_text(checksum), "d41d8cd98f00b204e9800998ecf8427e");
    ostrel_i_az_checksum_free(&checksum);
    ostrel_i_az_checksum_free(&checksum); // a cleared pointer is accepted
}

const char *const kAccountA = "a:127.0.0.1:10000/a";
const char *const kAccountB = "b:127.0.0.1:10000/b";
const char *const kDigest1 = "0123456789abcdef0123456789abcdef";
const char *const kDigest2 = "fedcba9876543210fedcba9876543210";

class ChecksumCache : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_EQ(ostrel_i_az_checksum_cache_init(), OSTREL_SUCCESS); }
    void TearDown() override { ostrel_i_az_checksum_cache_destroy(); }

    static std::string find(const char *account, const char *container, const char *key,
                            time_t last_modified)
    {
        char out[33] = "untouched";
        if (!ostrel_i_az_checksum_find(account, container, key, last_modified, out)) {
            EXPECT_STREQ(out, "untouched");
            return "";
        }
        return out;
    }
};

TEST_F(ChecksumCache, EntryAnswersOnlyForContentOlderThanItselfUntilReplaced)
{
    ASSERT_EQ(ostrel_i_az_checksum_add(kAccountA, "c", "k", 1000, kDigest1), 0);
    EXPECT_EQ(find(kAccountA, "c", "k", 999), kDigest1);
    // changed in the very second the entry was recorded: the entry may be stale
    EXPECT_EQ(find(kAccountA, "c", "k", 1000), "");
    EXPECT_EQ(find(kAccountA, "c", "other", 0), "");

    // a newer digest replaces the entry; the same digest in other case keeps its text
    ASSERT_EQ(ostrel_i_az_checksum_add(kAccountA, "c", "k", 2000, kDigest2), 0);
    EXPECT_EQ(find(kAccountA, "c", "k", 1500), kDigest2);
    ASSERT_EQ(
        ostrel_i_az_checksum_add(kAccountA, "c", "u", 1000, "0123456789ABCDEF0123456789ABCDEF"), 0);
    ASSERT_EQ(ostrel_i_az_checksum_add(kAccountA, "c", "u", 2000, kDigest1), 0);
    EXPECT_EQ(find(kAccountA, "c", "u", 1500), "0123456789ABCDEF0123456789ABCDEF");

    // a destroyed cache answers nothing and takes nothing until made again
    ostrel_i_az_checksum_cache_destroy();
    EXPECT_EQ(find(kAccountA, "c", "k", 0), "");
    EXPECT_NE(ostrel_i_az_checksum_add(kAccountA, "c", "k", 1000, kDigest1), 0);
    ASSERT_EQ(ostrel_i_az_checksum_cache_init(), OSTREL_SUCCESS);
    EXPECT_EQ(find(kAccountA, "c", "k", 0), "");
}

TEST_F(ChecksumCache, AccountsAndNamesNeverShareEntries)
{
    ASSERT_EQ(ostrel_i_az_checksum_add(kAccountA, "c", "k", 1000, kDigest1), 0);
    EXPECT_EQ(find(kAccountB, "c", "k", 0), "");
    EXPECT_EQ(find(nullptr, "c", "k", 0), "");

    // texts that a plain "account/container/key" join would confuse
    ASSERT_EQ(ostrel_i_az_checksum_add("x/c", "k", "y", 1000, kDigest1), 0);
    EXPECT_EQ(find("x", "c", "k/y", 0), "");
    ASSERT_EQ(ostrel_i_az_checksum_add("x", "ab", "c", 1000, kDigest2), 0);
    EXPECT_EQ(find("x", "a", "bc", 0), "");
    EXPECT_EQ(find("x", "ab", "c", 0), kDigest2);
}

} // namespace
