// One HTTP request with libcurl, for support code that must not go through the product.
#ifndef OSTREL_TESTS_SUPPORT_HTTP_CALL_H
#define OSTREL_TESTS_SUPPORT_HTTP_CALL_H

#include <string>
#include <vector>

namespace ostrel_test
{

struct http_answer {
    long status = 0; // 0 when no answer came
    std::string body;
    std::string headers; // raw header block
};

// PUT and POST send `body`; HEAD reads no body. ca_file empty: plain HTTP.
http_answer http_call(const std::string &method, const std::string &url,
                      const std::vector<std::string> &headers, const std::string &body = "",
                      const std::string &ca_file = "");

} // namespace ostrel_test

#endif
