// String hash tables and the string hash plug-ins use for inode numbers.
#include "host/ostrel_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

TEST(StringHash, KnownValues)
{
    // ELF hash values computed independently (python3, the textbook algorithm).
    struct {
        const char *text;
        int limit;
        int expected;
    } cases[] = {
        {"/", 0x7fffffff, 47},
        {"", 0x7fffffff, 0},
        {"abc", 0x7fffffff, 26499},
        {"photos", 0x7fffffff, 124742499},
        {"photos/2024/", 0x7fffffff, 55205391},
        {"a-very-long-container-name-0123456789", 0x7fffffff, 65309881},
        {"abc", 1024, 899},
        {"photos", 1024, 867},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ostrel_hashtable_string_hash((void *)c.text, c.limit), c.expected) << c.text;
    }
    EXPECT_EQ(ostrel_hashtable_string_hash(nullptr, 0x7fffffff), 0);
}

struct table_fixture : ::testing::Test {
    ostrel_hashtable_t table = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(ostrel_hashtable_init(&table, 8, ostrel_hashtable_string_hash,
                                        ostrel_hashtable_string_keyeq),
                  0);
    }
    void TearDown() override { ostrel_hashtable_destroy_all(&table, nullptr); }
};

TEST_F(table_fixture, DuplicateKeyRefusedAndRemoveReturnsDatum)
{
    int first = 1, second = 2;
    char key1[] = "container/blob";
    char key2[] = "container/blob"; // equal text, different storage
    EXPECT_EQ(ostrel_hashtable_insert(&table, key1, &first), 0);
    EXPECT_NE(ostrel_hashtable_insert(&table, key2, &second), 0);
    EXPECT_EQ(ostrel_hashtable_lookup(&table, key2), &first);
    EXPECT_EQ(ostrel_hashtable_size(&table), 1);

    EXPECT_EQ(ostrel_hashtable_remove(&table, key2), &first);
    EXPECT_EQ(ostrel_hashtable_lookup(&table, key1), nullptr);
    EXPECT_EQ(ostrel_hashtable_remove(&table, key1), nullptr);
    EXPECT_EQ(ostrel_hashtable_size(&table), 0);
    // the key may be inserted again after removal
    EXPECT_EQ(ostrel_hashtable_insert(&table, key2, &second), 0);
}

int destroyed = 0;
void count_destroy(void *)
{
    destroyed++;
}

TEST_F(table_fixture, CollidingKeysAllFoundAndEveryDatumDestroyed)
{
    std::vector<std::string> keys;
    for (int i = 0; i < 200; i++)
        keys.push_back("key-" + std::to_string(i));
    for (std::string &k : keys)
        ASSERT_EQ(ostrel_hashtable_insert(&table, &k[0], &k), 0);
    EXPECT_EQ(ostrel_hashtable_size(&table), 200);
    for (std::string &k : keys)
        EXPECT_EQ(ostrel_hashtable_lookup(&table, (void *)k.c_str()), &k);
    for (int i = 0; i < 200; i += 2)
        EXPECT_EQ(ostrel_hashtable_remove(&table, &keys[i][0]), &keys[i]);
    for (int i = 0; i < 200; i++)
        EXPECT_EQ(ostrel_hashtable_lookup(&table, &keys[i][0]), i % 2 ? &keys[i] : nullptr);
    destroyed = 0;
    ostrel_hashtable_destroy_all(&table, count_destroy);
    EXPECT_EQ(destroyed, 100);
    EXPECT_EQ(table, nullptr);
}

int bad_hash(void *key, int limit)
{
    return *static_cast<const char *>(key) == 'n' ? -7 : limit + 5;
}

TEST(HashTable, OutOfRangeHashDoesNotEscapeTable)
{
    ostrel_hashtable_t table;
    ASSERT_EQ(ostrel_hashtable_init(&table, 3, bad_hash, ostrel_hashtable_string_keyeq), 0);
    int a = 1, b = 2;
    EXPECT_EQ(ostrel_hashtable_insert(&table, (void *)"neg", &a), 0);
    EXPECT_EQ(ostrel_hashtable_insert(&table, (void *)"big", &b), 0);
    EXPECT_EQ(ostrel_hashtable_lookup(&table, (void *)"neg"), &a);
    EXPECT_EQ(ostrel_hashtable_lookup(&table, (void *)"big"), &b);
    ostrel_hashtable_destroy_all(&table, nullptr);
}

} // namespace
