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

int counter(const ostrel_host::loaded_module &module, const char *name)
{
    int *value = static_cast<int *>(module.symbol(name));
    return value ? *value : -1;
}

TEST_F(loader_fixture, LoadActivateUnloadDeactivate)
{
    auto module = ostrel_host::loaded_module::load("ostrel_test_dsi");
    int activations = counter(*module, "ostrel_test_dsi_activations");
    int deactivations = counter(*module, "ostrel_test_dsi_deactivations");
    ASSERT_GE(activations, 1);
    const ostrel_gfs_storage_iface_t *dsi = module->dsi("test_dsi");
    ASSERT_NE(dsi, nullptr);
    EXPECT_NE(dsi->stat_func, nullptr);
    EXPECT_EQ(module->dsi("azure_blob_nope"), nullptr);
    EXPECT_EQ(module->symbol("no_such_symbol"), nullptr);

    int *deactivated = static_cast<int *>(module->symbol("ostrel_test_dsi_deactivations"));
    module.reset();
    EXPECT_EQ(*deactivated, deactivations + 1);
    EXPECT_EQ(ostrel_extension_lookup(&ostrel_i_gfs_dsi_registry, "test_dsi"), nullptr);
}

TEST_F(loader_fixture, SecondLoadSharesOneActivation)
{
    auto first = ostrel_host::loaded_module::load("ostrel_test_dsi");
    int activations = counter(*first, "ostrel_test_dsi_activations");
    auto second = ostrel_host::loaded_module::load("ostrel_test_dsi");
    EXPECT_EQ(counter(*second, "ostrel_test_dsi_activations"), activations);
    first.reset();
    // the remaining load still has its storage interface
    EXPECT_NE(second->dsi("test_dsi"), nullptr);
    second.reset();
    EXPECT_EQ(ostrel_extension_lookup(&ostrel_i_gfs_dsi_registry, "test_dsi"), nullptr);
}

TEST_F(loader_fixture, MissingModuleNamesWhatWasSearched)
{
    try {
        ostrel_host::loaded_module::load("ostrel_no_such_module");
        FAIL() << "loaded a module that does not exist";
    } catch (const std::runtime_error &e) {
        std::string text = e.what();
        EXPECT_NE(text.find("libostrel_no_such_module.so"), std::string::npos) << text;
        EXPECT_NE(text.find("/nonexistent-module-dir"), std::string::npos) << text;
        EXPECT_NE(text.find(OSTREL_TEST_MODULE_DIR), std::string::npos) << text;
    }
    EXPECT_THROW(ostrel_host::loaded_module::load("../ostrel_test_dsi"), std::runtime_error);
    EXPECT_THROW(ostrel_host::loaded_module::load(""), std::runtime_error);
}

TEST_F(loader_fixture, FailedActivationReportsTheErrorAndRegistersNothing)
{
    setenv("OSTREL_TEST_DSI_REFUSE", "1", 1);
    try {
        ostrel_host::loaded_module::load("ostrel_test_dsi");
        FAIL() << "activation failure not reported";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("test activation refused"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(ostrel_extension_lookup(&ostrel_i_gfs_dsi_registry, "test_dsi"), nullptr);
    // a later load activates afresh
    unsetenv("OSTREL_TEST_DSI_REFUSE");
    auto module = ostrel_host::loaded_module::load("ostrel_test_dsi");
    EXPECT_NE(module->dsi("test_dsi"), nullptr);
}

} // namespace
