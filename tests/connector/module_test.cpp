// Activation, registration and release of the connector module.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace
{

const ostrel_gfs_storage_iface_t *registered()
{
    return (const ostrel_gfs_storage_iface_t *)ostrel_extension_lookup(&ostrel_i_gfs_dsi_registry,
                                                                       "azure_blob");
}

TEST(module, unreadable_mime_types_fail_activation_without_registering)
{
    ostrel_i_azure_mime_type_file = "/nonexistent/ostrel/mime.types";
    ostrel_result_t result = ostrel_gridftp_server_azure_blob_module.activation_func();
    ostrel_i_azure_mime_type_file = nullptr;
    ostrel_host::error_info info = ostrel_host::take_error(result);
    EXPECT_FALSE(info.ok);
    EXPECT_NE(info.text.find("There was an error parsing the mime.types file "
                             "/nonexistent/ostrel/mime.types."),
              std::string::npos)
        << info.text;
    EXPECT_EQ(registered(), nullptr);

    // A later activation with a readable file registers the table.
    ASSERT_EQ(ostrel_gridftp_server_azure_blob_module.activation_func(), OSTREL_SUCCESS);
    EXPECT_NE(registered(), nullptr);
    ostrel_gridftp_server_azure_blob_module.deactivation_func();
}

TEST(module, repeated_activation_and_deactivation_are_safe)
{
    char path[] = "/tmp/ostrel-mime-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "text/plain txt\n", 15), 15);
    close(fd);
    ostrel_i_azure_mime_type_file = path;

    ASSERT_EQ(ostrel_gridftp_server_azure_blob_module.activation_func(), OSTREL_SUCCESS);
    ASSERT_EQ(ostrel_gridftp_server_azure_blob_module.activation_func(), OSTREL_SUCCESS);
    EXPECT_STREQ(ostrel_i_azure_mime_type_get("a.txt"), "text/plain");

    // The first of two loads going away leaves the other one working.
    ostrel_gridftp_server_azure_blob_module.deactivation_func();
    EXPECT_NE(registered(), nullptr);
    EXPECT_STREQ(ostrel_i_azure_mime_type_get("a.txt"), "text/plain");

    ostrel_gridftp_server_azure_blob_module.deactivation_func();
    EXPECT_EQ(registered(), nullptr);
    EXPECT_EQ(ostrel_i_azure_mime_type_get("a.txt"), nullptr);
    ostrel_gridftp_server_azure_blob_module.deactivation_func();
    ostrel_i_azure_base_module.deactivation_func();
    ostrel_i_azure_base_module.deactivation_func();
    EXPECT_EQ(ostrel_i_OSTREL_AZURE_debug_handle.file, nullptr);

    ostrel_i_azure_mime_type_file = nullptr;
    unlink(path);
}

} // namespace
