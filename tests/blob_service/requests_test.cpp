#include "blob_service/blob_requests.h"
#include "blob_service/container_requests.h"
#include "blob_service/upload_requests.h"

#include <gtest/gtest.h>

#include "recording_http.h"

namespace bs = azure::blob_service;
using ostrel_test::recording_http;

namespace
{

const std::string base = "https://127.0.0.1:10000/devstoreaccount1";

recording_http build(const bs::storage_request_base &request, bool adls = false)
{
    bs::storage_account account("devstoreaccount1", std::make_shared<bs::token_credential>("tok"),
                                true, "127.0.0.1:10000/devstoreaccount1", adls);
    recording_http http;
    request.build_request(account, http);
    return http;
}

// Requests that move a body are limited by their data rate, the others by a time fixed per
// kind; the wire formats themselves are checked by the emulator in the integration tests,
// which has no data-lake endpoint.
TEST(requests, method_url_and_time_limit)
{
    using m = bs::http_method;
    using block = bs::put_block_list_request_base::block_item;
    const auto metadata = bs::list_blobs_segmented_request::metadata;
    const struct {
        recording_http http;
        m method;
        std::string url;
        long long timeout; // -1: a data-rate limit instead
    } rows[] = {
        {build(bs::create_container_request("photos")), m::put, "/photos?restype=container", 5},
        {build(bs::get_container_property_request("photos")), m::head, "/photos?restype=container",
         5},
        {build(bs::list_containers_request("p x", "/m", 10, true)), m::get,
         "/?comp=list&include=metadata&marker=/m&maxresults=10&prefix=p%20x", 30},
        {build(bs::list_blobs_segmented_request("c", "/", "2!x", "dir/", 10000, metadata)), m::get,
         "/c?comp=list&delimiter=/&include=metadata&marker=2!x&maxresults=10000&prefix=dir/"
         "&restype=container",
         30},
        {build(bs::download_blob_request("c", "b", 100, std::nullopt)), m::get, "/c/b", -1},
        {build(bs::delete_blob_request("c", "d/e", false)), m::del, "/c/d/e", 5},
        // a data-lake delete must not take a directory's contents along
        {build(bs::delete_blob_request("c", "d/e", false), true), m::del, "/c/d/e?recursive=false",
         5},
        {build(bs::put_block_request("c", "b", "YWI+Yw==", 4096)), m::put,
         "/c/b?blockid=YWI%2BYw%3D%3D&comp=block", -1},
        {build(bs::create_block_blob_request("c", "b", 11, {})), m::put, "/c/b", -1},
        {build(bs::put_block_list_request("c", "b", {{"Qg==", block::uncommitted}}, {})), m::put,
         "/c/b?comp=blocklist", 30},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.http.get_method(), row.method) << row.url;
        EXPECT_EQ(row.http.get_url(), base + row.url);
        EXPECT_EQ(row.http.absolute_timeout, row.timeout) << row.url;
        EXPECT_EQ(row.http.data_rate_timeout, row.timeout < 0) << row.url;
    }
    EXPECT_EQ(rows[6].http.header("x-ms-delete-snapshots"), "include");
}

// The ranges and the pin of a resumed download are on the wire in the blob client's tests;
// here, when it cannot be pinned to one version.
TEST(requests, download_resume_asks_for_the_rest_of_the_same_version)
{
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

} // namespace
