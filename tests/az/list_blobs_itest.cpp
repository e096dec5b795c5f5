// One-level blob listings against the emulator: folder markers and prefixes, the adls
// setting, and pages the emulator only gives through the fault proxy.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "itest_support.h"

using namespace az_itest;

namespace
{

using pairs = std::vector<std::pair<std::string, std::string>>;

class list_blobs_itest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        client = make_client(emu);
        container = ostrel_test::unique_name("list");
        create_container(client.get(), container);
    }

    // A folder marker "d/sub" with a file under it, a marker written in capitals and a file.
    void make_tree()
    {
        put_text(client.get(), container, "d/sub", "", {{"hdi_isfolder", "true"}});
        put_text(client.get(), container, "d/sub/file", "inner");
        put_text(client.get(), container, "d/Upper", "", {{"Hdi_IsFolder", "True"}});
        put_text(client.get(), container, "d/file1", "hello", {{"ostrel_modtime", "1234"}});
    }

    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
    client_ptr client;
    std::string container;
};

std::vector<std::pair<std::string, bool>> names_and_kinds(const recorder &r)
{
    std::vector<std::pair<std::string, bool>> out;
    for (const auto &e : r.entries) {
        out.emplace_back(e.name, e.is_directory);
    }
    return out;
}

// The query as the service reads it, whichever characters the client chose to escape.
std::string decoded_target(const std::string &target)
{
    std::string out;
    for (size_t i = 0; i < target.size(); i++) {
        if (target[i] == '%' && i + 2 < target.size()) {
            out += static_cast<char>(std::stoi(target.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += target[i];
        }
    }
    return out;
}

const std::string xml_head = R"(<?xml version=\"1.0\" encoding=\"utf-8\"?>)";

TEST_F(list_blobs_itest, marker_and_prefix_on_one_page_are_merged)
{
    make_tree();
    auto r = list_blobs(client.get(), container, "d/");
    EXPECT_EQ(r.status, AZ_OK);
    // Blobs come first on a page, so the marker names the directory.
    std::vector<std::pair<std::string, bool>> expected = {
        {"d/Upper", true}, {"d/file1", false}, {"d/sub", true}};
    EXPECT_EQ(names_and_kinds(r), expected);
    for (const auto &e : r.entries) {
        if (e.is_directory) {
            EXPECT_EQ(e.size, 0u);
            EXPECT_EQ(e.last_modified, -1);
            EXPECT_FALSE(e.has_md5);
            EXPECT_TRUE(e.metadata.empty());
        }
    }
    const auto &file = r.entries[1];
    EXPECT_EQ(file.size, 5u);
    EXPECT_EQ(file.md5, "5d41402abc4b2a76b9719d911017c592");
    EXPECT_GT(file.last_modified, 1600000000);
    EXPECT_EQ(file.metadata, (pairs{{"ostrel_modtime", "1234"}}));
}

TEST_F(list_blobs_itest, data_lake_session_reports_marker_and_prefix)
{
    make_tree();
    auto adls = make_client(emu, true);
    auto r = list_blobs(adls.get(), container, "d/");
    EXPECT_EQ(r.status, AZ_OK);
    std::vector<std::pair<std::string, bool>> expected = {
        {"d/Upper", true}, {"d/file1", false}, {"d/sub", true}, {"d/sub/", true}};
    EXPECT_EQ(names_and_kinds(r), expected);
}

TEST_F(list_blobs_itest, key_ending_in_slash_without_marker_is_a_file)
{
    put_text(client.get(), container, "x/slash/", "abc");
    auto r = list_blobs(client.get(), container, "x/slash/");
    EXPECT_EQ(r.status, AZ_OK);
    ASSERT_EQ(r.entries.size(), 1u);
    EXPECT_EQ(r.entries[0].name, "x/slash/");
    EXPECT_FALSE(r.entries[0].is_directory);
    EXPECT_EQ(r.entries[0].size, 3u);
    EXPECT_GT(r.entries[0].last_modified, 1600000000);
}

TEST_F(list_blobs_itest, nothing_to_list)
{
    auto empty = list_blobs(client.get(), container, "");
    EXPECT_EQ(empty.status, AZ_OK);
    EXPECT_TRUE(empty.entries.empty());

    put_text(client.get(), container, "a", "1");
    auto none = list_blobs(client.get(), container, "nothing/");
    EXPECT_EQ(none.status, AZ_OK);
    EXPECT_TRUE(none.entries.empty());

    auto top = list_blobs(client.get(), container, "");
    ASSERT_EQ(top.entries.size(), 1u);
    EXPECT_EQ(top.entries[0].name, "a");

    recorder missing;
    AZ_list_blobs(client.get(), "no-such-container", "", record_properties, record_complete,
                  &missing);
    EXPECT_EQ(missing.status, AZ_ErrorContainerNotFound);
}

// The emulator's marker is the last name listed: a crafted first page that ends with the
// folder marker is followed by the emulator's real page holding the prefix.
TEST_F(list_blobs_itest, marker_and_prefix_on_two_pages_are_both_reported)
{
    make_tree();
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    proxy.add_rule(R"({"method":"GET","path":"comp=list","times":1,"replace_body":")" + xml_head +
                   R"(<EnumerationResults><Blobs><Blob><Name>d/sub</Name><Properties>)"
                   R"(<Content-Length>0</Content-Length></Properties><Metadata>)"
                   R"(<hdi_isfolder>true</hdi_isfolder></Metadata></Blob></Blobs>)"
                   R"(<NextMarker>d/sub</NextMarker></EnumerationResults>"})");
    auto r = list_blobs(via.get(), container, "d/");
    EXPECT_EQ(r.status, AZ_OK) << r.message;
    std::vector<std::pair<std::string, bool>> expected = {{"d/sub", true}, {"d/sub/", true}};
    EXPECT_EQ(names_and_kinds(r), expected);

    auto pages = requests_matching(proxy, "GET", "comp=list");
    ASSERT_EQ(pages.size(), 2u);
    for (const auto &p : pages) {
        std::string query = decoded_target(p.target);
        EXPECT_NE(query.find("delimiter=/"), std::string::npos) << p.target;
        EXPECT_NE(query.find("prefix=d/"), std::string::npos) << p.target;
        EXPECT_NE(query.find("include=metadata"), std::string::npos) << p.target;
        EXPECT_NE(query.find("maxresults=10000"), std::string::npos) << p.target;
    }
    EXPECT_EQ(pages[0].target.find("marker="), std::string::npos);
    EXPECT_NE(decoded_target(pages[1].target).find("marker=d/sub&"), std::string::npos)
        << pages[1].target;
}

TEST_F(list_blobs_itest, failure_on_the_second_page_keeps_the_first)
{
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    proxy.add_rule(R"({"method":"GET","path":"comp=list","times":1,"replace_body":")" + xml_head +
                   R"(<EnumerationResults><Blobs><BlobPrefix><Name>p/</Name></BlobPrefix>)"
                   R"(</Blobs><NextMarker>p/</NextMarker></EnumerationResults>"})");
    proxy.add_rule(R"({"method":"GET","path":"marker=","times":20,"respond":{"status":503,)"
                   R"("body":")" +
                   xml_head +
                   R"(<Error><Code>ServerBusy</Code><Message>busy</Message></Error>"}})");
    auto r = list_blobs(via.get(), container, "");
    EXPECT_EQ(r.status, AZ_ErrorUnknown);
    EXPECT_EQ(r.code, "503");
    EXPECT_EQ(r.code_name, "ServerBusy");
    ASSERT_EQ(r.entries.size(), 1u);
    EXPECT_EQ(r.entries[0].name, "p/");
}

TEST_F(list_blobs_itest, damaged_properties_do_not_end_the_listing)
{
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    proxy.add_rule(R"({"method":"GET","path":"comp=list","times":1,"replace_body":")" + xml_head +
                   R"(<EnumerationResults><Blobs>)"
                   R"(<Blob><Name>bad</Name><Properties><Content-Length>4</Content-Length>)"
                   R"(<Content-MD5>%%%not-base64</Content-MD5>)"
                   R"(<Last-Modified>not a date</Last-Modified></Properties></Blob>)"
                   R"(<Blob><Name>good</Name><Properties><Content-Length>5</Content-Length>)"
                   R"(<Content-MD5>XUFAKrxLKna5cZ2REBfFkg==</Content-MD5>)"
                   R"(<Last-Modified>Sun, 06 Nov 1994 08:49:37 GMT</Last-Modified>)"
                   R"(</Properties></Blob></Blobs><NextMarker/></EnumerationResults>"})");
    auto r = list_blobs(via.get(), container, "");
    EXPECT_EQ(r.status, AZ_OK);
    ASSERT_EQ(r.entries.size(), 2u);
    EXPECT_FALSE(r.entries[0].has_md5);
    EXPECT_EQ(r.entries[0].last_modified, -1);
    EXPECT_EQ(r.entries[0].size, 4u);
    EXPECT_EQ(r.entries[1].md5, "5d41402abc4b2a76b9719d911017c592");
    EXPECT_EQ(r.entries[1].last_modified, 784111777);
}

TEST_F(list_blobs_itest, listing_that_is_not_xml_is_a_parse_failure)
{
    ostrel_test::fault_proxy proxy(emu);
    auto via = make_client(proxy.endpoint());
    proxy.add_rule(R"({"method":"GET","path":"comp=list","replace_body":"<Enumeration"})");
    auto r = list_blobs(via.get(), container, "");
    EXPECT_EQ(r.status, AZ_XmlParseFailure);
    EXPECT_TRUE(r.entries.empty());

    // A listing labelled JSON has no parser here: a failure, even with a body
    // that would read as an empty XML listing.
    proxy.clear_rules();
    proxy.add_rule(R"({"method":"GET","path":"comp=list","respond":{"status":200,)"
                   R"("headers":{"Content-Type":"application/json","x-ms-request-id":"r"},)"
                   R"("body":"<EnumerationResults><Blobs/></EnumerationResults>"}})");
    r = list_blobs(via.get(), container, "");
    EXPECT_EQ(r.status, AZ_XmlParseFailure);
    EXPECT_TRUE(r.entries.empty());
}

// Each row gives the NextMarker of each page in turn; the listing ends at the first marker it
// has already followed, however far back.
TEST_F(list_blobs_itest, markers_seen_before_end_the_listing)
{
    const std::vector<std::vector<std::string>> rows = {
        {"same", "same"}, {"A", "B", "A"}, {"A", "B", "C", "B"}};
    for (const auto &markers : rows) {
        ostrel_test::fault_proxy proxy(emu);
        auto via = make_client(proxy.endpoint());
        for (const auto &marker : markers) {
            proxy.add_rule(R"({"method":"GET","path":"comp=list","times":1,"replace_body":")" +
                           xml_head +
                           R"(<EnumerationResults><Blobs><BlobPrefix><Name>p/</Name></BlobPrefix>)"
                           R"(</Blobs><NextMarker>)" +
                           marker + R"(</NextMarker></EnumerationResults>"})");
        }
        auto r = list_blobs(via.get(), container, "");
        EXPECT_EQ(r.status, AZ_XmlParseFailure) << markers.size();
        EXPECT_EQ(r.entries.size(), markers.size());
        EXPECT_EQ(requests_matching(proxy, "GET", "comp=list").size(), markers.size());
    }
}

} // namespace
