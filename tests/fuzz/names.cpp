// Blob names, account names and custom endpoints: what a request URL is built from.
#include "az/az.h"
#include "blob_service/names.h"
#include "blob_service/storage_account.h"
#include "blob_service/storage_url.h"
#include "tests/fuzz/fuzz.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <strings.h>

namespace bs = azure::blob_service;

namespace
{

void check_path(const std::string &path)
{
    if (bs::path_error(path) != nullptr) {
        return;
    }
    std::string padded = "/" + path + "/";
    FUZZ_CHECK(padded.find("/./") == std::string::npos);
    FUZZ_CHECK(padded.find("/../") == std::string::npos);
}

std::string url_part(CURLU *url, CURLUPart part)
{
    char *text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) {
        return "";
    }
    std::string copy = text;
    curl_free(text);
    return copy;
}

// libcurl writes addresses in their shortest form ("3" is 0.0.0.3, "[::0]" is "[::]").
bool same_host(const std::string &seen, const std::string &checked)
{
    struct in_addr a, b;
    struct in6_addr a6, b6;
    if (strcasecmp(seen.c_str(), checked.c_str()) == 0) {
        return true;
    }
    if (seen[0] == '[' && checked[0] == '[') {
        return inet_pton(AF_INET6, seen.substr(1, seen.size() - 2).c_str(), &a6) == 1 &&
               inet_pton(AF_INET6, checked.substr(1, checked.size() - 2).c_str(), &b6) == 1 &&
               memcmp(&a6, &b6, sizeof a6) == 0;
    }
    return inet_aton(seen.c_str(), &a) && inet_aton(checked.c_str(), &b) && a.s_addr == b.s_addr;
}

// The host libcurl will connect to is the host the checks saw, and the blob keeps its path.
void check_request_url(const std::string &name, const std::string &endpoint)
{
    bs::storage_account account(name, nullptr, true, endpoint, false);
    bs::storage_url blob = account.get_url_blob();
    blob.append_path("c").append_path("b");
    std::unique_ptr<CURLU, void (*)(CURLU *)> url(curl_url(), curl_url_cleanup);
    FUZZ_CHECK(curl_url_set(url.get(), CURLUPART_URL, blob.to_string().c_str(), 0) == CURLUE_OK);

    std::string expected = name + ".blob.core.windows.net";
    if (!endpoint.empty()) {
        size_t scheme_end = endpoint.find("://");
        std::string rest =
            scheme_end == std::string::npos ? endpoint : endpoint.substr(scheme_end + 3);
        std::string authority = rest.substr(0, rest.find('/'));
        expected = authority[0] == '[' ? authority.substr(0, authority.find(']') + 1)
                                       : authority.substr(0, authority.find(':'));
    }
    FUZZ_CHECK(same_host(url_part(url.get(), CURLUPART_HOST), expected));
    std::string path = url_part(url.get(), CURLUPART_PATH);
    FUZZ_CHECK(path.size() >= 4 && path.compare(path.size() - 4, 4, "/c/b") == 0);
    FUZZ_CHECK(url_part(url.get(), CURLUPART_QUERY).empty());
}

void check_account(const std::string &text)
{
    size_t colon = text.find(':');
    std::string name = text.substr(0, colon);
    if (bs::account_name_error(name) == nullptr) {
        FUZZ_CHECK(name.size() >= 3 && name.size() <= 24);
        FUZZ_CHECK(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") ==
                   std::string::npos);
    }
    if (AZ_account_error(text.c_str()) != nullptr) {
        return;
    }
    check_request_url(name, colon == std::string::npos ? "" : text.substr(colon + 1));
}

} // namespace

void fuzz_one(const std::string &raw, const uint8_t *, size_t)
{
    // What a C caller would see.
    std::string text = raw.c_str();
    check_path(text);
    bs::endpoint_error(text);
    check_account(text);
}
