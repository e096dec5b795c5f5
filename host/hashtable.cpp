/* Chained string hash tables. Keys and data belong to the caller; the table
 * stores the pointers. */
#include "host/ostrel_host.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace
{
struct bucket_entry {
    void *key;
    void *datum;
    bucket_entry *next;
};
} // namespace

struct ostrel_hashtable_s {
    std::vector<bucket_entry *> buckets;
    ostrel_hashtable_hash_func_t hash;
    ostrel_hashtable_keyeq_func_t keyeq;
    int count = 0;
};

int ostrel_hashtable_init(ostrel_hashtable_t *table, int size, ostrel_hashtable_hash_func_t hash,
                          ostrel_hashtable_keyeq_func_t keyeq)
{
    if (table == nullptr || size <= 0 || hash == nullptr || keyeq == nullptr)
        return -1;
    *table = nullptr;
    ostrel_hashtable_s *t = new (std::nothrow) ostrel_hashtable_s();
    if (t == nullptr)
        return -1;
    try {
        t->buckets.assign((size_t)size, nullptr);
    } catch (...) {
        delete t;
        return -1;
    }
    t->hash = hash;
    t->keyeq = keyeq;
    *table = t;
    return 0;
}

/* The bucket of key; a hash function outside [0, size) must not index past
 * the table. */
static bucket_entry **ostrel_l_hashtable_bucket(ostrel_hashtable_s *t, void *key)
{
    int size = (int)t->buckets.size();
    int h = t->hash(key, size) % size;
    if (h < 0)
        h += size;
    return &t->buckets[(size_t)h];
}

static bucket_entry **ostrel_l_hashtable_find(ostrel_hashtable_s *t, void *key)
{
    bucket_entry **link = ostrel_l_hashtable_bucket(t, key);
    while (*link != nullptr && !t->keyeq((*link)->key, key))
        link = &(*link)->next;
    return link;
}

int ostrel_hashtable_insert(ostrel_hashtable_t *table, void *key, void *datum)
{
    if (table == nullptr || *table == nullptr)
        return -1;
    ostrel_hashtable_s *t = *table;
    bucket_entry **link = ostrel_l_hashtable_find(t, key);
    if (*link != nullptr)
        return 1;
    bucket_entry *entry = new (std::nothrow) bucket_entry{key, datum, nullptr};
    if (entry == nullptr)
        return -1;
    *link = entry;
    t->count++;
    return 0;
}

void *ostrel_hashtable_lookup(ostrel_hashtable_t *table, void *key)
{
    if (table == nullptr || *table == nullptr)
        return nullptr;
    bucket_entry **link = ostrel_l_hashtable_find(*table, key);
    return *link ? (*link)->datum : nullptr;
}

void *ostrel_hashtable_remove(ostrel_hashtable_t *table, void *key)
{
    if (table == nullptr || *table == nullptr)
        return nullptr;
    bucket_entry **link = ostrel_l_hashtable_find(*table, key);
    bucket_entry *entry = *link;
    if (entry == nullptr)
        return nullptr;
    *link = entry->next;
    void *datum = entry->datum;
    delete entry;
    (*table)->count--;
    return datum;
}

int ostrel_hashtable_size(ostrel_hashtable_t *table)
{
    if (table == nullptr || *table == nullptr)
        return 0;
    return (*table)->count;
}

void ostrel_hashtable_destroy_all(ostrel_hashtable_t *table,
                                  ostrel_hashtable_destructor_func_t destructor)
{
    if (table == nullptr || *table == nullptr)
        return;
    for (bucket_entry *entry : (*table)->buckets) {
        while (entry != nullptr) {
            bucket_entry *next = entry->next;
            if (destructor != nullptr)
                destructor(entry->datum);
            delete entry;
            entry = next;
        }
    }
    delete *table;
    *table = nullptr;
}

/* The ELF (PJW) hash: its values are stable across hosts, and plug-ins use
 * them as device and inode numbers that clients may keep. */
int ostrel_hashtable_string_hash(void *string, int limit)
{
    if (string == nullptr || limit <= 0)
        return 0;
    uint32_t h = 0;
    for (const unsigned char *p = static_cast<const unsigned char *>(string); *p; p++) {
        h = (h << 4) + *p;
        uint32_t g = h & 0xF0000000u;
        if (g != 0)
            h ^= g >> 24;
        h &= ~g;
    }
    return (int)(h % (uint32_t)limit);
}

int ostrel_hashtable_string_keyeq(void *string1, void *string2)
{
    if (string1 == string2)
        return 1;
    if (string1 == nullptr || string2 == nullptr)
        return 0;
    return strcmp(static_cast<const char *>(string1), static_cast<const char *>(string2)) == 0;
}
