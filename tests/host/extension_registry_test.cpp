// The extension registry through which plug-ins publish their storage interface.
#include "host/ostrel_host.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

TEST(ExtensionRegistry, AddLookupRemove)
{
    auto *registry = &ostrel_i_gfs_dsi_registry;
    void *key = (void *)"registry_test_dsi";
    int first = 1, second = 2;
    char name[32];
    strcpy(name, "registry_test_dsi");
    ASSERT_EQ(ostrel_extension_registry_add(registry, name, nullptr, &first), 0);
    // the registry keeps its own copy of the name
    strcpy(name, "scribbled-over");
    EXPECT_EQ(ostrel_extension_lookup(registry, "registry_test_dsi"), &first);
    EXPECT_EQ(ostrel_extension_lookup(registry, nullptr), nullptr);
    EXPECT_NE(ostrel_extension_registry_add(registry, key, nullptr, &second), 0);
    EXPECT_EQ(ostrel_extension_lookup(registry, "registry_test_dsi"), &first);

    EXPECT_EQ(ostrel_extension_registry_remove(registry, key), &first);
    EXPECT_EQ(ostrel_extension_lookup(registry, "registry_test_dsi"), nullptr);
    EXPECT_EQ(ostrel_extension_registry_remove(registry, key), nullptr);
    EXPECT_EQ(ostrel_extension_registry_add(registry, key, nullptr, &second), 0);
    EXPECT_EQ(ostrel_extension_registry_remove(registry, key), &second);
}

} // namespace
