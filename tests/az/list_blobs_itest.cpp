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

using kinds = std::vector<std::pair<std::string, bool>>;

class list_blobs_itest : public container_test
{
  protected:
    // A listing through a proxy whose first pages are replaced, in order, by `pages`.
    recorder list_pages(ostrel_test::fault_proxy &proxy, const std::vector<std::string> &pages)
    {
        for (const auto &page : pages) {
            proxy.add_rule(R"({"method":"GET","path":"comp=list","times":1,"replace_body":")" +
                           std::string(R"(<?xml version=\"1.0\" encoding=\"utf-8\"?>)") + page +
                           R"("})");
        }
        return list_blobs(make_client(proxy.endpoint()).get(), container, "");
    }
};

kinds names_and_kinds(const recorder &r)
{
    kinds out;
    for (const auto &e : r.entries) {
        out.emplace_back(e.name, e.is_directory);
    }
    return out;
}

// With adls clear, a folder marker and the prefix of its contents on one page are one
// directory, named as the first of them (blobs come first on a page); with adls set, both.
TEST_F(list_blobs_itest, marker_and_prefix_on_one_page)
{
    recorder empty = list_blobs(client.get(), container, "");
    EXPECT_EQ(empty.status, AZ_OK);
    EXPECT_TRUE(empty.entries.empty());
    EXPECT_EQ(list_blobs(client.get(), "no-such-container", "").status, AZ_ErrorContainerNotFound);
    put_text(client.get(), container, "d/sub", "", {{"hdi_isfolder", "true"}});
    put_text(client.get(), container, "d/sub/file", "inner");
    put_text(client.get(), container, "d/Upper", "", {{"Hdi_IsFolder", "True"}});
    put_text(client.get(), container, "d/file1", "hello", {{"ostrel_modtime", "1234"}});
    put_text(client.get(), container, "d/slash/", "abc");
    kinds merged{{"d/Upper", true}, {"d/file1", false}, {"d/sub", true}, {"d/slash/", true}};
    auto r = list_blobs(client.get(), container, "d/");
    EXPECT_EQ(r.status, AZ_OK);
    EXPECT_EQ(names_and_kinds(r), merged);
    expect_directory(r.entries[0], "d/Upper");
    expect_directory(r.entries[3], "d/slash/");
    const entry &file = r.entries[1];
    EXPECT_EQ(file.size, 5u);
    EXPECT_EQ(file.md5, "5d41402abc4b2a76b9719d911017c592");
    EXPECT_GT(file.last_modified, 1600000000);
    EXPECT_EQ(file.metadata, (pairs{{"ostrel_modtime", "1234"}}));
    // A blob listed carries the version and marker flag its HEAD reports; a prefix is no blob.
    for (const entry &e : r.entries) {
        EXPECT_EQ(e.has_etag, e.name != "d/slash/") << e.name;
        if (e.has_etag) {
            entry head = head_entry(client.get(), container, e.name);
            EXPECT_EQ(e.etag, head.etag) << e.name;
            EXPECT_EQ(e.folder_marker, e.is_directory) << e.name;
            EXPECT_EQ(head.folder_marker, e.is_directory) << e.name;
        }
    }

    merged.emplace_back("d/sub/", true);
    EXPECT_EQ(names_and_kinds(list_blobs(make_client(emu, true).get(), container, "d/")), merged);

    // A key ending in "/" without a marker is a file.
    auto slash = list_blobs(client.get(), container, "d/slash/");
    EXPECT_EQ(names_and_kinds(slash), (kinds{{"d/slash/", false}}));
    EXPECT_EQ(slash.entries[0].size, 3u);
    EXPECT_FALSE(slash.entries[0].folder_marker);
    EXPECT_EQ(slash.entries[0].etag, head_entry(client.get(), container, "d/slash/").etag);
}

TEST_F(list_blobs_itest, failure_on_the_second_page_keeps_the_first)
{
    ostrel_test::fault_proxy proxy(emu);
    proxy.add_rule(R"({"method":"GET","path":"marker=","respond":{"status":503,"body":)"
                   R"("<Error><Code>ServerBusy</Code><Message>busy</Message></Error>"}})");
    auto r = list_pages(proxy, {"<EnumerationResults><Blobs><BlobPrefix><Name>p/</Name>"
                                "</BlobPrefix></Blobs><NextMarker>p/</NextMarker>"
                                "</EnumerationResults>"});
    EXPECT_EQ(r.code, "503");
    EXPECT_EQ(r.code_name, "ServerBusy");
    EXPECT_EQ(names_and_kinds(r), (kinds{{"p/", true}}));
}

// Each row gives the NextMarker of each page in turn; the listing ends at the first marker it
// has already followed, however far back.
TEST_F(list_blobs_itest, markers_seen_before_end_the_listing)
{
    const std::vector<std::vector<std::string>> rows = {
        {"same", "same"}, {"A", "B", "A"}, {"A", "B", "C", "B"}};
    for (const auto &markers : rows) {
        ostrel_test::fault_proxy proxy(emu);
        std::vector<std::string> pages;
        for (const auto &marker : markers) {
            pages.push_back("<EnumerationResults><Blobs><BlobPrefix><Name>p/</Name></BlobPrefix>"
                            "</Blobs><NextMarker>" +
                            marker + "</NextMarker></EnumerationResults>");
        }
        auto r = list_pages(proxy, pages);
        EXPECT_EQ(r.status, AZ_XmlParseFailure) << markers.size();
        EXPECT_EQ(r.entries.size(), markers.size());
        EXPECT_EQ(requests_matching(proxy, "GET", "comp=list").size(), markers.size());
    }
}

} // namespace
