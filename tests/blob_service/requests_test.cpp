#include "blob_service/blob_requests.h"
#include "blob_service/container_requests.h"
#include "blob_service/upload_requests.h"

#include <gtest/gtest.h>

#include "recording_http.h"

namespace bs = azure::blob_service;
using ostrel_test::recording_http;
using names = std::vector<std::string>;

namespace
{

const std::string base = "https://127.0.0.1:10000/devstoreaccount1";

bs::storage_account account(bool adls = false)
{
    return bs::storage_account("devstoreaccount1", std::make_shared<bs::token_credential>("tok"),
                               true, "127.0.0.1:10000/devstoreaccount1", adls);
}

recording_http build(const bs::storage_request_base &request, bool adls = false)
{
    recording_http http;
    request.build_request(account(adls), http);
    return http;
}

names with_trailer(names own)
{
    own.insert(own.end(), {"User-Agent", "x-ms-date", "x-ms-version", "Authorization"});
    return own;
}

TEST(requests, container_requests)
{
    recording_http create = build(bs::create_container_request("photos"));
    EXPECT_EQ(create.get_method(), bs::http_method::put);
    EXPECT_EQ(create.get_url(), base + "/photos?restype=container");
    EXPECT_EQ(create.header_names(), with_trailer({"Content-Length"}));
    EXPECT_EQ(create.header("Content-Length"), "0");
    EXPECT_EQ(create.absolute_timeout, 5);

    recording_http del = build(bs::delete_container_request("photos"));
    EXPECT_EQ(del.get_method(), bs::http_method::del);
    EXPECT_EQ(del.get_url(), base + "/photos?restype=container");
    EXPECT_EQ(del.header_names(), with_trailer({}));

    recording_http head = build(bs::get_container_property_request("photos"));
    EXPECT_EQ(head.get_method(), bs::http_method::head);
    EXPECT_EQ(head.get_url(), base + "/photos?restype=container");
    EXPECT_EQ(head.absolute_timeout, 5);
}

TEST(requests, list_containers_query)
{
    EXPECT_EQ(build(bs::list_containers_request("", "", 0, false)).get_url(), base + "/?comp=list");
    EXPECT_EQ(build(bs::list_containers_request("", "", 0, true)).get_url(),
              base + "/?comp=list&include=metadata");
    recording_http http = build(bs::list_containers_request("p x", "/m", 10, false));
    EXPECT_EQ(http.get_url(), base + "/?comp=list&marker=/m&maxresults=10&prefix=p%20x");
    EXPECT_EQ(http.get_method(), bs::http_method::get);
    EXPECT_EQ(http.absolute_timeout, 30);
    EXPECT_EQ(http.header_names(), with_trailer({}));
}

TEST(requests, list_blobs_query_order)
{
    recording_http http = build(bs::list_blobs_segmented_request(
        "c", "/", "2!x", "dir/", 10000, bs::list_blobs_segmented_request::metadata));
    EXPECT_EQ(http.get_url(), base + "/c?comp=list&delimiter=/&include=metadata&marker=2!x"
                                     "&maxresults=10000&prefix=dir/&restype=container");
    recording_http all = build(bs::list_blobs_segmented_request("c", "", "", "", 0, 15));
    EXPECT_EQ(
        all.get_url(),
        base + "/c?comp=list&include=snapshots,metadata,uncommittedblobs,copy&restype=container");
}

TEST(requests, download_ranges)
{
    recording_http whole = build(bs::download_blob_request("c", "b"));
    EXPECT_EQ(whole.get_method(), bs::http_method::get);
    EXPECT_EQ(whole.get_url(), base + "/c/b");
    EXPECT_EQ(whole.header_names(), with_trailer({}));
    EXPECT_TRUE(whole.data_rate_timeout);

    recording_http first_byte = build(bs::download_blob_request("c", "b", 0, 0));
    EXPECT_EQ(first_byte.header_names(), with_trailer({"x-ms-range"}));
    EXPECT_EQ(first_byte.header("x-ms-range"), "bytes=0-0");
    EXPECT_EQ(build(bs::download_blob_request("c", "b", 100, std::nullopt)).header("x-ms-range"),
              "bytes=100-");
}

TEST(requests, download_resume_asks_for_the_rest_of_the_same_version)
{
    bs::download_blob_request whole("c", "b");
    ASSERT_TRUE(whole.resume_after(1000, "\"0x8D1\""));
    recording_http http = build(whole);
    EXPECT_EQ(http.header_names(), with_trailer({"x-ms-range", "If-Match"}));
    EXPECT_EQ(http.header("x-ms-range"), "bytes=1000-");
    EXPECT_EQ(http.header("If-Match"), "\"0x8D1\"");

    bs::download_blob_request ranged("c", "b", 500, 1499);
    ASSERT_TRUE(ranged.resume_after(200, "e"));
    EXPECT_EQ(build(ranged).header("x-ms-range"), "bytes=700-1499");

    bs::download_blob_request no_etag("c", "b");
    EXPECT_FALSE(no_etag.resume_after(10, ""));

    // A version the caller named is the pin from the first attempt on.
    bs::download_blob_request pinned("c", "b");
    pinned.set_conditions({"\"0x8D2\"", ""});
    EXPECT_EQ(build(pinned).header("If-Match"), "\"0x8D2\"");
    EXPECT_FALSE(pinned.resume_after(10, "\"0x8D3\""));
    ASSERT_TRUE(pinned.resume_after(10, ""));
    EXPECT_EQ(build(pinned).header("If-Match"), "\"0x8D2\"");
}

TEST(requests, delete_blob)
{
    recording_http http = build(bs::delete_blob_request("c", "d/e", false));
    EXPECT_EQ(http.get_method(), bs::http_method::del);
    EXPECT_EQ(http.get_url(), base + "/c/d/e");
    EXPECT_EQ(http.header_names(), with_trailer({"x-ms-delete-snapshots"}));
    EXPECT_EQ(http.header("x-ms-delete-snapshots"), "include");
    EXPECT_EQ(build(bs::delete_blob_request("c", "d", true)).header("x-ms-delete-snapshots"),
              "only");

    bs::storage_account lake("acct", std::make_shared<bs::token_credential>("t"), true, "", true);
    recording_http adls;
    bs::delete_blob_request("c", "d", false).build_request(lake, adls);
    EXPECT_EQ(adls.get_url(), "https://acct.dfs.core.windows.net/c/d?recursive=false");
    EXPECT_EQ(adls.header("x-ms-delete-snapshots"), "include");
}

TEST(requests, uploads)
{
    recording_http block = build(bs::put_block_request("c", "b", "YWI+Yw==", 4096));
    EXPECT_EQ(block.get_method(), bs::http_method::put);
    EXPECT_EQ(block.get_url(), base + "/c/b?blockid=YWI%2BYw%3D%3D&comp=block");
    EXPECT_EQ(block.header_names(), with_trailer({"Content-Length"}));
    EXPECT_EQ(block.header("Content-Length"), "4096");
    EXPECT_TRUE(block.data_rate_timeout);

    recording_http blob = build(bs::create_block_blob_request(
        "c", "b", 11, {{"ostrel_modtime", "42"}, {"hdi_isfolder", "true"}}));
    EXPECT_EQ(blob.get_url(), base + "/c/b");
    EXPECT_EQ(blob.header_names(),
              with_trailer({"Content-Length", "x-ms-blob-type", "x-ms-meta-ostrel_modtime",
                            "x-ms-meta-hdi_isfolder"}));
    EXPECT_EQ(blob.header("x-ms-blob-type"), "BlockBlob");
    EXPECT_EQ(blob.header("x-ms-meta-ostrel_modtime"), "42");
}

TEST(requests, block_list_body)
{
    using item = bs::put_block_list_request_base::block_item;
    bs::put_block_list_request request(
        "c", "b", {{"QQ==", item::committed}, {"Qg==", item::uncommitted}, {"Qw==", item::latest}},
        {{"m", "v"}});
    const std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><BlockList>"
                             "<Committed>QQ==</Committed><Uncommitted>Qg==</Uncommitted>"
                             "<Latest>Qw==</Latest></BlockList>";
    recording_http http = build(request);
    EXPECT_EQ(http.get_url(), base + "/c/b?comp=blocklist");
    EXPECT_EQ(http.header_names(), with_trailer({"Content-Length", "x-ms-meta-m"}));
    EXPECT_EQ(http.input_body, body);
    EXPECT_EQ(http.header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(http.absolute_timeout, 30);
}

} // namespace
