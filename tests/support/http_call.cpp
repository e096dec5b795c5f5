#include "http_call.h"

#include <curl/curl.h>

#include <memory>
#include <stdexcept>

namespace ostrel_test
{

namespace
{

size_t collect(char *data, size_t size, size_t count, void *out)
{
    static_cast<std::string *>(out)->append(data, size * count);
    return size * count;
}

} // namespace

http_answer http_call(const std::string &method, const std::string &url,
                      const std::vector<std::string> &headers, const std::string &body,
                      const std::string &ca_file)
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        throw std::runtime_error("curl_easy_init failed");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> list(nullptr, curl_slist_free_all);
    // No "Expect: 100-continue" round trip, and no form content type on a body.
    for (const std::string &h : headers)
        list.reset(curl_slist_append(list.release(), h.c_str()));
    list.reset(curl_slist_append(list.release(), "Expect:"));
    list.reset(curl_slist_append(list.release(), "Content-Type:"));
    http_answer a;
    CURL *h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &a.headers);
    if (!ca_file.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, ca_file.c_str());
    if (method == "HEAD")
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    else
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "PUT" || method == "POST") {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    if (curl_easy_perform(h) == CURLE_OK)
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &a.status);
    return a;
}

} // namespace ostrel_test
