// Loading a plug-in by module name, activation and deactivation.
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace
{

struct loader_fixture : ::testing::Test {
    void SetUp() override
    {
        setenv("OSTREL_MODULE_PATH", "/nonexistent-module-dir:" OSTREL_TEST_MODULE_DIR, 1);
        unsetenv("OSTREL_TEST_DSI_REFUSE");
    }
    void TearDown() override { unsetenv("OSTREL_TEST_DSI_REFUSE"); }
};

std::string load_error(const char *name)
{
    try {
        ostrel_host::loaded_module::load(name);
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "loaded";
}

const void *registered()
{
    return ostrel_extension_lookup(&ostrel_i_gfs_dsi_registry, "test_dsi");
}

TEST_F(loader_fixture, LoadsShareOneActivationAndTheLastUnloadDeactivates)
{
    auto first = ostrel_host::loaded_module::load("ostrel_test_dsi");
    int *activations = static_cast<int *>(first->symbol("ostrel_test_dsi_activations"));
    int *deactivations = static_cast<int *>(first->symbol("ostrel_test_dsi_deactivations"));
    ASSERT_TRUE(activations && deactivations);
    int activated = *activations, deactivated = *deactivations;
    ASSERT_GE(activated, 1);
    ASSERT_NE(first->dsi("test_dsi"), nullptr);

    auto second = ostrel_host::loaded_module::load("ostrel_test_dsi");
    EXPECT_EQ(*activations, activated);
    first.reset();
    EXPECT_EQ(*deactivations, deactivated);
    EXPECT_NE(second->dsi("test_dsi"), nullptr);
    second.reset();
    EXPECT_EQ(*deactivations, deactivated + 1);
    EXPECT_EQ(registered(), nullptr);
}

TEST_F(loader_fixture, FailuresNameTheCause)
{
    std::string text = load_error("ostrel_no_such_module");
    EXPECT_NE(text.find("libostrel_no_such_module.so"), std::string::npos) << text;
    EXPECT_NE(text.find("/nonexistent-module-dir"), std::string::npos) << text;
    EXPECT_NE(text.find(OSTREL_TEST_MODULE_DIR), std::string::npos) << text;
    EXPECT_NE(load_error("../ostrel_test_dsi"), "loaded");
    EXPECT_NE(load_error(""), "loaded");

    setenv("OSTREL_TEST_DSI_REFUSE", "1", 1);
    text = load_error("ostrel_test_dsi");
    EXPECT_NE(text.find("test activation refused"), std::string::npos) << text;
    EXPECT_EQ(registered(), nullptr);
    // a later load activates afresh
    unsetenv("OSTREL_TEST_DSI_REFUSE");
    EXPECT_NE(ostrel_host::loaded_module::load("ostrel_test_dsi")->dsi("test_dsi"), nullptr);
}

} // namespace
