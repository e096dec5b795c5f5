// Checks the test tools themselves against a real emulator: that it accepts our
// tokens, and that the proxy forwards, records and misbehaves as asked. Unique names
// and credential documents are used, and so checked, by every integration test.
#include "test_support.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

using ostrel_test::emulator;
using ostrel_test::fault_proxy;

namespace
{

struct reply {
    CURLcode rc = CURLE_OK;
    long status = 0;
    std::string body;
    std::vector<std::string> header_lines;

    std::string header(const std::string &name) const
    {
        for (const auto &line : header_lines) {
            if (strncasecmp(line.c_str(), (name + ":").c_str(), name.size() + 1) == 0) {
                auto begin = line.find_first_not_of(' ', name.size() + 1);
                return line.substr(begin, line.find_last_not_of("\r\n") + 1 - begin);
            }
        }
        return "";
    }
};

size_t collect(char *data, size_t size, size_t n, void *out)
{
    static_cast<std::string *>(out)->append(data, size * n);
    return size * n;
}

size_t collect_header(char *data, size_t size, size_t n, void *out)
{
    static_cast<std::vector<std::string> *>(out)->emplace_back(data, size * n);
    return size * n;
}

// One exchange with the blob service: bearer token, API version and any extra
// headers in the order given.
reply call(const emulator &e, const std::string &method, const std::string &path_and_query,
           const std::string &token, const std::vector<std::string> &extra = {},
           const std::string &body = "")
{
    reply r;
    CURL *h = curl_easy_init();
    curl_slist *headers = curl_slist_append(nullptr, ("Authorization: Bearer " + token).c_str());
    headers = curl_slist_append(headers, "x-ms-version: 2018-11-09");
    for (const auto &line : extra) {
        headers = curl_slist_append(headers, line.c_str());
    }
    std::string url = "https://" + e.endpoint + path_and_query;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_CAINFO, e.ca_file.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(h, CURLOPT_NOBODY, method == "HEAD" ? 1L : 0L);
    if (method == "PUT") {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collect_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &r.header_lines);
    r.rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    return r;
}

class support : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    static void TearDownTestSuite() { curl_global_cleanup(); }

    // A container holding one blob of `size` known bytes, created directly on the emulator.
    std::string make_blob(const std::string &container, size_t size, std::string *content)
    {
        EXPECT_EQ(201, call(emu, "PUT", "/" + container + "?restype=container", token).status);
        content->clear();
        for (size_t i = 0; i < size; i++) {
            content->push_back(static_cast<char>('a' + i % 26));
        }
        std::string path = "/" + container + "/blob.bin";
        EXPECT_EQ(201,
                  call(emu, "PUT", path, token, {"x-ms-blob-type: BlockBlob"}, *content).status);
        return path;
    }

    emulator emu = ostrel_test::emulator_from_env();
    std::string token = ostrel_test::mint_token();
};

TEST_F(support, emulator_accepts_minted_tokens_and_refuses_expired_ones)
{
    reply ok = call(emu, "GET", "/?comp=list", token);
    ASSERT_EQ(CURLE_OK, ok.rc);
    EXPECT_EQ(200, ok.status) << ok.body;
    reply expired = call(emu, "GET", "/?comp=list", ostrel_test::mint_token(-60));
    EXPECT_EQ(403, expired.status);
    EXPECT_NE(std::string::npos, expired.body.find("expired")) << expired.body;
    EXPECT_EQ(403, call(emu, "GET", "/?comp=list", "not-a-token").status);
}

TEST_F(support, proxy_forwards_and_records_requests_as_sent)
{
    fault_proxy proxy(emu);
    const emulator &via = proxy.endpoint();
    EXPECT_NE(emu.port, via.port);
    EXPECT_EQ("devstoreaccount1:127.0.0.1:" + std::to_string(via.port) + "/devstoreaccount1",
              via.account_text);

    std::string container = ostrel_test::unique_name("proxy-fwd");
    ASSERT_EQ(201, call(via, "PUT", "/" + container + "?restype=container", token).status);
    std::string body = "hello, proxy";
    reply put =
        call(via, "PUT", "/" + container + "/a%20b", token,
             {"x-ms-blob-type: BlockBlob", "X-Ms-Meta-Zeta: 1", "x-ms-meta-alpha: 2"}, body);
    ASSERT_EQ(201, put.status) << put.body;
    EXPECT_EQ(body, call(via, "GET", "/" + container + "/a%20b", token).body);

    auto log = proxy.requests();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ("PUT", log[1].method);
    EXPECT_EQ("/devstoreaccount1/" + container + "/a%20b", log[1].target);
    EXPECT_EQ(body.size(), log[1].body_size);
    std::vector<std::string> names;
    for (const auto &h : log[1].headers) {
        names.push_back(h.first);
    }
    auto at = [&](const std::string &n) {
        return std::find(names.begin(), names.end(), n) - names.begin();
    };
    ASSERT_LT(at("X-Ms-Meta-Zeta"), static_cast<long>(names.size())) << "case kept";
    EXPECT_LT(at("Authorization"), at("x-ms-version"));
    EXPECT_LT(at("x-ms-version"), at("x-ms-blob-type"));
    EXPECT_LT(at("x-ms-blob-type"), at("X-Ms-Meta-Zeta"));
    EXPECT_LT(at("X-Ms-Meta-Zeta"), at("x-ms-meta-alpha"));
    EXPECT_EQ("GET", log[2].method);
    EXPECT_EQ(0u, log[2].body_size);

    proxy.clear_log();
    EXPECT_TRUE(proxy.requests().empty());
    // The raw query is recorded as received, not normalised.
    const std::string query = "?restype=container&comp=list&prefix=a%2Fb&marker=";
    call(via, "GET", "/" + container + query, token);
    log = proxy.requests();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("/devstoreaccount1/" + container + query, log[0].target);
}

TEST_F(support, proxy_rules_match_skip_and_run_out)
{
    fault_proxy proxy(emu);
    const emulator &via = proxy.endpoint();
    proxy.add_rule(R"({"method":"GET","path":"comp=list","times":2,)"
                   R"("respond":{"status":503,"headers":{"x-ms-error-code":"ServerBusy"},)"
                   R"("body":"busy"}})");
    for (int i = 0; i < 2; i++) {
        reply r = call(via, "GET", "/?comp=list", token);
        EXPECT_EQ(503, r.status) << "attempt " << i;
        EXPECT_EQ("busy", r.body);
        EXPECT_EQ("ServerBusy", r.header("x-ms-error-code"));
    }
    EXPECT_EQ(200, call(via, "GET", "/?comp=list", token).status);
    // Method and path filters: neither a HEAD nor another path is answered by a rule.
    proxy.clear_rules();
    proxy.add_rule(R"({"method":"HEAD","path":"^/nowhere","respond":{"status":500}})");
    EXPECT_EQ(200, call(via, "GET", "/?comp=list", token).status);
    EXPECT_EQ(4u, proxy.requests().size());

    proxy.clear_rules();
    proxy.add_rule(R"({"path":"comp=list","skip":1,"times":1,"respond":{"status":500}})");
    for (long expected : {200, 500, 200}) {
        EXPECT_EQ(expected, call(via, "GET", "/?comp=list", token).status);
    }

    EXPECT_THROW(proxy.add_rule(R"({"path":"x"})"), std::runtime_error);
    EXPECT_THROW(proxy.add_rule(R"({"refuse":true,"cut_after":1})"), std::runtime_error);
    EXPECT_THROW(proxy.add_rule("not json"), std::runtime_error);
}

TEST_F(support, proxy_breaks_rewrites_and_refuses_bodies)
{
    std::string content;
    std::string path = make_blob(ostrel_test::unique_name("proxy-body"), 100000, &content);
    fault_proxy proxy(emu);
    const emulator &via = proxy.endpoint();

    proxy.add_rule(R"({"method":"GET","cut_after":1000,"times":1})");
    reply cut = call(via, "GET", path, token);
    EXPECT_EQ(CURLE_PARTIAL_FILE, cut.rc) << curl_easy_strerror(cut.rc);
    EXPECT_EQ(200, cut.status);
    EXPECT_EQ(content.substr(0, 1000), cut.body);

    proxy.add_rule(R"({"method":"GET","truncate_body":10,"times":1})");
    reply truncated = call(via, "GET", path, token);
    EXPECT_EQ(CURLE_OK, truncated.rc);
    EXPECT_EQ(content.substr(0, 10), truncated.body);
    EXPECT_EQ("10", truncated.header("content-length"));

    proxy.add_rule(R"({"method":"GET","replace_body":"<Oops/>","times":1})");
    reply replaced = call(via, "GET", path, token);
    EXPECT_EQ(200, replaced.status);
    EXPECT_EQ("<Oops/>", replaced.body);
    EXPECT_EQ("7", replaced.header("content-length"));

    proxy.add_rule(R"({"refuse":true,"times":1})");
    reply refused = call(via, "GET", path, token);
    EXPECT_EQ(CURLE_GOT_NOTHING, refused.rc) << curl_easy_strerror(refused.rc);

    proxy.add_rule(R"({"method":"GET","slow":{"bytes_per_second":1000000},"times":1})");
    reply slow = call(via, "GET", path, token);
    EXPECT_EQ(CURLE_OK, slow.rc);
    EXPECT_EQ(content, slow.body);
    // Every rule is used up: the whole body again.
    EXPECT_EQ(content, call(via, "GET", path, token).body);
}

} // namespace
