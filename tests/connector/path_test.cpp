// GridFTP paths to container and key.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

TEST(path_parse, examples)
{
    struct row {
        const char *path;
        const char *container;
        const char *key; // nullptr: no key
    };
    const row rows[] = {
        {"/", "", nullptr},
        {"", "", nullptr},
        {"/data", "data", nullptr},
        {"data", "data", nullptr},
        {"/data/", "data", ""},
        {"/data/a/b.txt", "data", "a/b.txt"},
        {"/data/dir/", "data", "dir/"},
        {"//x", "", "x"},
    };
    for (const row &r : rows) {
        std::string copy = std::string(r.path) + std::string(3, '\0');
        char *container = (char *)"unset";
        char *key = (char *)"unset";
        ostrel_i_azure_path_parse(&copy[0], &container, &key);
        EXPECT_STREQ(container, r.container) << r.path;
        if (r.key == nullptr)
            EXPECT_EQ(key, nullptr) << r.path;
        else
            EXPECT_STREQ(key, r.key) << r.path;
    }
}

} // namespace
