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
        {"photos/2024/", 0x7fffffff, 55205391},
        {"a-very-long-container-name-0123456789", 0x7fffffff, 65309881},
        {"photos", 1024, 867},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ostrel_hashtable_string_hash((void *)c.text, c.limit), c.expected) << c.text;
    }
    EXPECT_EQ(ostrel_hashtable_string_hash(nullptr, 0x7fffffff), 0);
}

int destroyed = 0;
void count_destroy(void *)
{
    destroyed++;
}

TEST(HashTable, KeysFoundByTextRemovedAndEveryDatumDestroyed)
{
    ostrel_hashtable_t table;
    ASSERT_EQ(ostrel_hashtable_init(&table, 8, ostrel_hashtable_string_hash,
                                    ostrel_hashtable_string_keyeq),
              0);
    std::vector<std::string> keys;
    for (int i = 0; i < 200; i++)
        keys.push_back("key-" + std::to_string(i));
    for (std::string &k : keys)
        ASSERT_EQ(ostrel_hashtable_insert(&table, &k[0], &k), 0);
    // equal text in other storage is the same key
    std::string twin = keys[7];
    EXPECT_NE(ostrel_hashtable_insert(&table, &twin[0], &twin), 0);
    EXPECT_EQ(ostrel_hashtable_lookup(&table, &twin[0]), &keys[7]);
    EXPECT_EQ(ostrel_hashtable_size(&table), 200);
    for (int i = 0; i < 200; i += 2)
        EXPECT_EQ(ostrel_hashtable_remove(&table, &keys[i][0]), &keys[i]);
    EXPECT_EQ(ostrel_hashtable_remove(&table, &keys[0][0]), nullptr);
    EXPECT_EQ(ostrel_hashtable_size(&table), 100);
    for (int i = 0; i < 200; i++)
        EXPECT_EQ(ostrel_hashtable_lookup(&table, &keys[i][0]), i % 2 ? &keys[i] : nullptr);
    // a removed key may be inserted again
    EXPECT_EQ(ostrel_hashtable_insert(&table, &keys[0][0], &keys[0]), 0);
    destroyed = 0;
    ostrel_hashtable_destroy_all(&table, count_destroy);
    EXPECT_EQ(destroyed, 101);
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
