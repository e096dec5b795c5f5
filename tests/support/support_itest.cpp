// Checks the test tools themselves against a real emulator: that it accepts
// our tokens, and that the proxy forwards, records and misbehaves as asked.
#include "test_support.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <set>
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
};

size_t collect_body(char *data, size_t size, size_t n, void *userp)
{
    static_cast<reply *>(userp)->body.append(data, size * n);
    return size * n;
}

size_t collect_header(char *data, size_t size, size_t n, void *userp)
{
    static_cast<reply *>(userp)->header_lines.emplace_back(data, size * n);
    return size * n;
}

std::string base_url(const emulator &e)
{
    return std::string(e.use_https ? "https://" : "http://") + e.endpoint;
}

// One exchange with the blob service: bearer token, API version and any extra
// headers in the order given.
reply call(const emulator &e, const std::string &method, const std::string &path_and_query,
           const std::string &token, const std::vector<std::string> &extra = {},
           const std::string *body = nullptr)
{
    reply r;
    CURL *h = curl_easy_init();
    curl_slist *headers = nullptr;
    headers = curl_slist_append(headers, ("Authorization: Bearer " + token).c_str());
    headers = curl_slist_append(headers, "x-ms-version: 2018-11-09");
    for (const auto &line : extra) {
        headers = curl_slist_append(headers, line.c_str());
    }
    std::string url = base_url(e) + path_and_query;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_CAINFO, e.ca_file.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    }
    if (body != nullptr) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
    } else if (method == "PUT") {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, 0L);
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collect_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &r);
    r.rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    return r;
}

std::string lower(std::string s)
{
    for (char &c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string header_value(const reply &r, const std::string &name)
{
    for (const auto &line : r.header_lines) {
        auto colon = line.find(':');
        if (colon == std::string::npos || lower(line.substr(0, colon)) != lower(name)) {
            continue;
        }
        auto begin = line.find_first_not_of(' ', colon + 1);
        auto end = line.find_last_not_of("\r\n");
        return begin == std::string::npos || end < begin ? "" : line.substr(begin, end - begin + 1);
    }
    return "";
}

// The JSON string value of `key` in a flat document without escapes.
std::string json_field(const std::string &doc, const std::string &key)
{
    std::string needle = "\"" + key + "\":\"";
    auto at = doc.find(needle);
    if (at == std::string::npos) {
        return "";
    }
    at += needle.size();
    return doc.substr(at, doc.find('"', at) - at);
}

// Container name rules: 3..63 of [a-z0-9-], starting and ending alphanumeric, no "--".
bool valid_container_name(const std::string &name)
{
    if (name.size() < 3 || name.size() > 63 || name.front() == '-' || name.back() == '-' ||
        name.find("--") != std::string::npos) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

class support : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    static void TearDownTestSuite() { curl_global_cleanup(); }

    void SetUp() override { emu = ostrel_test::emulator_from_env(); }

    // A container holding one blob of `size` known bytes, created directly on the emulator.
    std::string make_blob(const std::string &container, size_t size, std::string *content)
    {
        std::string token = ostrel_test::mint_token();
        EXPECT_EQ(201, call(emu, "PUT", "/" + container + "?restype=container", token).status);
        content->clear();
        for (size_t i = 0; i < size; i++) {
            content->push_back(static_cast<char>('a' + i % 26));
        }
        std::string path = "/" + container + "/blob.bin";
        EXPECT_EQ(201,
                  call(emu, "PUT", path, token, {"x-ms-blob-type: BlockBlob"}, content).status);
        return path;
    }

    emulator emu;
};

TEST_F(support, emulator_env_describes_an_https_oauth_instance)
{
    EXPECT_EQ("127.0.0.1", emu.host);
    EXPECT_GT(emu.port, 0);
    EXPECT_EQ("devstoreaccount1", emu.account);
    EXPECT_EQ("127.0.0.1:" + std::to_string(emu.port) + "/devstoreaccount1", emu.endpoint);
    EXPECT_EQ("devstoreaccount1:" + emu.endpoint, emu.account_text);
    EXPECT_TRUE(emu.oauth);
    EXPECT_TRUE(emu.use_https);
    EXPECT_FALSE(emu.ca_file.empty());
    EXPECT_FALSE(emu.cert_file.empty());
    EXPECT_FALSE(emu.key_file.empty());
}

TEST_F(support, emulator_accepts_minted_tokens_and_refuses_expired_ones)
{
    reply ok = call(emu, "GET", "/?comp=list", ostrel_test::mint_token());
    ASSERT_EQ(CURLE_OK, ok.rc);
    EXPECT_EQ(200, ok.status) << ok.body;
    EXPECT_NE(std::string::npos, ok.body.find("<EnumerationResults")) << ok.body;

    reply expired = call(emu, "GET", "/?comp=list", ostrel_test::mint_token(-60));
    ASSERT_EQ(CURLE_OK, expired.rc);
    EXPECT_EQ(403, expired.status);
    EXPECT_NE(std::string::npos, expired.body.find("expired")) << expired.body;

    reply garbage = call(emu, "GET", "/?comp=list", "not-a-token");
    EXPECT_EQ(403, garbage.status);
}

TEST_F(support, minted_creds_carry_an_accepted_token_and_a_parsable_expiry)
{
    const long lifetime = 7200;
    std::time_t before = std::time(nullptr);
    std::string creds = ostrel_test::mint_creds(lifetime, "alice");

    ASSERT_EQ('{', creds.front());
    ASSERT_EQ('}', creds.back());
    EXPECT_EQ("alice", json_field(creds, "sub"));
    std::string token = json_field(creds, "access_token");
    EXPECT_EQ(200, call(emu, "GET", "/?comp=list", token).status) << creds;

    // The connector's own reading of token_expiry.
    int year, mon, day, hour, min, sec, off_h, off_m;
    std::string expiry = json_field(creds, "token_expiry");
    ASSERT_EQ(8, std::sscanf(expiry.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%*6d%3d:%2d", &year, &mon,
                             &day, &hour, &min, &sec, &off_h, &off_m))
        << expiry;
    EXPECT_EQ(0, off_h);
    EXPECT_EQ(0, off_m);
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = min;
    tm.tm_sec = sec;
    std::time_t expires = timegm(&tm);
    EXPECT_GE(expires, before + lifetime);
    EXPECT_LE(expires, std::time(nullptr) + lifetime);
}

TEST_F(support, unique_names_are_valid_distinct_container_names)
{
    std::set<std::string> seen;
    const std::vector<std::string> prefixes = {
        "", "a", "Mixed_Case Prefix", "--x--", std::string(100, 'p'), "stat.test/dir"};
    for (const auto &prefix : prefixes) {
        for (int i = 0; i < 50; i++) {
            std::string name = ostrel_test::unique_name(prefix);
            EXPECT_TRUE(valid_container_name(name)) << "'" << prefix << "' -> " << name;
            EXPECT_TRUE(seen.insert(name).second) << name;
        }
    }
    std::string token = ostrel_test::mint_token();
    for (const auto &prefix : prefixes) {
        std::string name = ostrel_test::unique_name(prefix);
        EXPECT_EQ(201, call(emu, "PUT", "/" + name + "?restype=container", token).status) << name;
    }
}

TEST_F(support, proxy_forwards_and_records_requests_as_sent)
{
    fault_proxy proxy(emu);
    const emulator &via = proxy.endpoint();
    EXPECT_NE(emu.port, via.port);
    EXPECT_EQ("127.0.0.1:" + std::to_string(via.port) + "/devstoreaccount1", via.endpoint);
    EXPECT_EQ("devstoreaccount1:" + via.endpoint, via.account_text);

    std::string container = ostrel_test::unique_name("proxy-fwd");
    std::string token = ostrel_test::mint_token();
    ASSERT_EQ(201, call(via, "PUT", "/" + container + "?restype=container", token).status);
    std::string body = "hello, proxy";
    reply put =
        call(via, "PUT", "/" + container + "/a%20b", token,
             {"x-ms-blob-type: BlockBlob", "X-Ms-Meta-Zeta: 1", "x-ms-meta-alpha: 2"}, &body);
    ASSERT_EQ(201, put.status) << put.body;
    reply got = call(via, "GET", "/" + container + "/a%20b", token);
    EXPECT_EQ(200, got.status);
    EXPECT_EQ(body, got.body);

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
    call(via, "GET", "/" + container + "?restype=container&comp=list&prefix=a%2Fb&marker=", token);
    log = proxy.requests();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("/devstoreaccount1/" + container +
                  "?restype=container&comp=list&prefix=a%2Fb&marker=",
              log[0].target);
}

TEST_F(support, proxy_respond_rule_applies_the_given_number_of_times)
{
    fault_proxy proxy(emu);
    proxy.add_rule(R"({"method":"GET","path":"comp=list","times":2,)"
                   R"("respond":{"status":503,"headers":{"x-ms-error-code":"ServerBusy"},)"
                   R"("body":"busy"}})");
    std::string token = ostrel_test::mint_token();
    for (int i = 0; i < 2; i++) {
        reply r = call(proxy.endpoint(), "GET", "/?comp=list", token);
        EXPECT_EQ(503, r.status) << "attempt " << i;
        EXPECT_EQ("busy", r.body);
        EXPECT_EQ("ServerBusy", header_value(r, "x-ms-error-code"));
    }
    EXPECT_EQ(200, call(proxy.endpoint(), "GET", "/?comp=list", token).status);
    // Method and path filters: neither a HEAD nor another path is answered by a rule.
    proxy.clear_rules();
    proxy.add_rule(R"({"method":"HEAD","path":"^/nowhere","respond":{"status":500}})");
    EXPECT_EQ(200, call(proxy.endpoint(), "GET", "/?comp=list", token).status);
    EXPECT_EQ(3u + 1u, proxy.requests().size());
}

TEST_F(support, proxy_skip_lets_the_first_matches_through)
{
    fault_proxy proxy(emu);
    proxy.add_rule(R"({"path":"comp=list","skip":1,"times":1,"respond":{"status":500}})");
    std::string token = ostrel_test::mint_token();
    EXPECT_EQ(200, call(proxy.endpoint(), "GET", "/?comp=list", token).status);
    EXPECT_EQ(500, call(proxy.endpoint(), "GET", "/?comp=list", token).status);
    EXPECT_EQ(200, call(proxy.endpoint(), "GET", "/?comp=list", token).status);
}

TEST_F(support, proxy_cut_after_breaks_the_body_off)
{
    std::string content;
    std::string path = make_blob(ostrel_test::unique_name("proxy-cut"), 100000, &content);
    fault_proxy proxy(emu);
    proxy.add_rule(R"({"method":"GET","cut_after":1000,"times":1})");
    std::string token = ostrel_test::mint_token();

    reply cut = call(proxy.endpoint(), "GET", path, token);
    EXPECT_EQ(CURLE_PARTIAL_FILE, cut.rc) << curl_easy_strerror(cut.rc);
    EXPECT_EQ(200, cut.status);
    EXPECT_EQ(content.substr(0, 1000), cut.body);

    reply whole = call(proxy.endpoint(), "GET", path, token);
    EXPECT_EQ(CURLE_OK, whole.rc);
    EXPECT_EQ(content, whole.body);
}

TEST_F(support, proxy_rewrites_and_refuses)
{
    std::string content;
    std::string path = make_blob(ostrel_test::unique_name("proxy-body"), 5000, &content);
    fault_proxy proxy(emu);
    std::string token = ostrel_test::mint_token();

    proxy.add_rule(R"({"method":"GET","truncate_body":10,"times":1})");
    reply truncated = call(proxy.endpoint(), "GET", path, token);
    EXPECT_EQ(CURLE_OK, truncated.rc);
    EXPECT_EQ(200, truncated.status);
    EXPECT_EQ(content.substr(0, 10), truncated.body);
    EXPECT_EQ("10", header_value(truncated, "content-length"));

    proxy.add_rule(R"({"method":"GET","replace_body":"<Oops/>","content_type":"application/xml",)"
                   R"("times":1})");
    reply replaced = call(proxy.endpoint(), "GET", path, token);
    EXPECT_EQ(200, replaced.status);
    EXPECT_EQ("<Oops/>", replaced.body);
    EXPECT_EQ("application/xml", header_value(replaced, "content-type"));

    proxy.add_rule(R"({"refuse":true,"times":1})");
    reply refused = call(proxy.endpoint(), "GET", path, token);
    EXPECT_EQ(CURLE_GOT_NOTHING, refused.rc) << curl_easy_strerror(refused.rc);

    proxy.add_rule(R"({"method":"GET","slow":{"bytes_per_second":1000000},"times":1})");
    reply slow = call(proxy.endpoint(), "GET", path, token);
    EXPECT_EQ(CURLE_OK, slow.rc);
    EXPECT_EQ(content, slow.body);

    EXPECT_THROW(proxy.add_rule(R"({"path":"x"})"), std::runtime_error);
    EXPECT_THROW(proxy.add_rule(R"({"refuse":true,"cut_after":1})"), std::runtime_error);
    EXPECT_THROW(proxy.add_rule("not json"), std::runtime_error);
}

} // namespace
