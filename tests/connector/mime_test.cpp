// The MIME type table read from a mime.types file, and the module activation that
// reads it.
#include "connector/ostrel_i_azure.h"
#include "host/ostrel_host_runtime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{

class mime_table : public ::testing::Test
{
  protected:
    std::string dir;
    std::string path;

    void SetUp() override
    {
        char pattern[] = "/tmp/ostrel-mime-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/mime.types";
    }
    void TearDown() override
    {
        ostrel_i_azure_mime_types_destroy();
        unlink(path.c_str());
        rmdir(dir.c_str());
    }
    void write(const std::string &text)
    {
        FILE *file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(text.c_str(), file);
        fclose(file);
    }
    static std::string type(const char *name)
    {
        const char *found = ostrel_i_azure_mime_type_get(name);
        return found ? found : "(none)";
    }
};

TEST_F(mime_table, examples)
{
    const std::string ext30(30, 'e');
    const std::string ext31(31, 'f');
    write("# MIME type\textensions\n"
          "text/plain\ttxt text\n"
          "image/jpeg  jpeg jpg # jpe is not listed\n"
          "application/x-other txt\n"
          "application/empty\n"
          "application/gzip gz\r\n"
          "application/long " +
          ext30 + " " + ext31 +
          "\n"
          "  \n"
          "application/d\t d/file\n");
    ASSERT_EQ(ostrel_i_azure_mime_types_parse(path.c_str()), OSTREL_SUCCESS);

    EXPECT_EQ(type("notes.txt"), "text/plain");
    EXPECT_EQ(type("a/b/readme.text"), "text/plain");
    EXPECT_EQ(type("x.jpeg"), "image/jpeg");
    EXPECT_EQ(type("x.jpg"), "image/jpeg");
    EXPECT_EQ(type("x.jpe"), "(none)");
    EXPECT_EQ(type("x.#"), "(none)");
    EXPECT_EQ(type("archive.tar.gz"), "application/gzip");
    EXPECT_EQ(type(("x." + ext30).c_str()), "application/long");
    EXPECT_EQ(type(("x." + ext31).c_str()), "(none)");
    EXPECT_EQ(type("noextension"), "(none)");
    EXPECT_EQ(type("ends.with.dot."), "(none)");
    EXPECT_EQ(type("dir.d/file"), "application/d"); // the text after the last dot
    EXPECT_EQ(type("dir.e/file"), "(none)");
    EXPECT_EQ(type("NOTES.TXT"), "(none)");
    EXPECT_EQ(type("x.empty"), "(none)");
}

TEST_F(mime_table, long_physical_lines_are_read_in_pieces)
{
    // The first 255-byte read ends inside the padding and has no extension;
    // the rest, "  pad xyz", is read as a line of its own.
    write("application/first " + std::string(240, ' ') + "pad xyz\n");
    ASSERT_EQ(ostrel_i_azure_mime_types_parse(path.c_str()), OSTREL_SUCCESS);
    EXPECT_EQ(type("a.xyz"), "pad");
    EXPECT_EQ(type("a.pad"), "(none)");
}

TEST_F(mime_table, null_path_gives_an_empty_table_and_an_unreadable_file_none)
{
    ASSERT_EQ(ostrel_i_azure_mime_types_parse(nullptr), OSTREL_SUCCESS);
    EXPECT_EQ(type("a.txt"), "(none)");
    write("text/plain txt\n");
    ASSERT_EQ(ostrel_i_azure_mime_types_parse(path.c_str()), OSTREL_SUCCESS);
    EXPECT_NE(ostrel_i_azure_mime_types_parse((dir + "/missing").c_str()), OSTREL_SUCCESS);
    EXPECT_EQ(ostrel_i_azure_mime_extensions, nullptr);
    EXPECT_EQ(type("a.txt"), "(none)");
}

const ostrel_gfs_storage_iface_t *registered()
{
    return (const ostrel_gfs_storage_iface_t *)ostrel_extension_lookup(&ostrel_i_gfs_dsi_registry,
                                                                       "azure_blob");
}

TEST_F(mime_table, unreadable_file_fails_module_activation_without_registering)
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

TEST_F(mime_table, repeated_module_activation_and_deactivation_are_safe)
{
    write("text/plain txt\n");
    ostrel_i_azure_mime_type_file = path.c_str();

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
}

} // namespace
