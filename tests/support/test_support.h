// Helpers shared by every layer's tests: the blob emulator started by the ctest
// fixture, bearer tokens and credential documents it accepts, unique names, and
// the fault-injecting proxy. Nothing here talks to an address off loopback.
#ifndef OSTREL_TESTS_SUPPORT_TEST_SUPPORT_H
#define OSTREL_TESTS_SUPPORT_TEST_SUPPORT_H

#include <cstddef>
#include <memory>
#include <strings.h>
#include <string>
#include <utility>
#include <vector>

namespace ostrel_test
{

// One emulator instance as written by azurite-start. account_key is set only for
// the plain-HTTP shared-key instance (oauth == false); ca_file only when it speaks HTTPS.
struct emulator {
    std::string host;
    int port = 0;
    std::string account;
    std::string endpoint;     // host:port/account, no scheme
    std::string account_text; // account:host:port/account
    std::string ca_file;
    bool oauth = true;
    std::string account_key;
    // Extras: false only for the plain-HTTP shared-key instance; the server
    // certificate and key (reused by the proxy) are empty there.
    bool use_https = true;
    std::string cert_file;
    std::string key_file;
};

// Reads the env file named by $OSTREL_TEST_EMULATOR. Throws std::runtime_error
// when the variable is unset or the file is unreadable or incomplete.
emulator emulator_from_env();

// A bearer token the emulator accepts (it does not check the signature). A
// negative lifetime yields a token that has already expired.
std::string mint_token(long lifetime_seconds = 3600);

// The credential document {"access_token", "token_expiry", "sub"} the connector reads.
std::string mint_creds(long lifetime_seconds = 3600, const std::string &sub = "tester");

// A container-safe name: lowercase letters, digits and '-', 3..63 characters,
// different on every call and in every process. Thread-safe.
std::string unique_name(const std::string &prefix);

// False when $OSTREL_TEST_SKIP_LARGE is 1 (sanitizer runs): cases that move
// hundreds of MiB prove sizes, not memory or thread safety, and skip then.
bool large_tests_enabled();

// Bytes that differ from position to position (a shifted or repeated piece
// changes the digest); the same seed gives the same bytes.
std::string pattern(size_t size, unsigned seed = 1);

// The MD5 of bytes as lower-case hex, computed here rather than by the code under test.
std::string md5_hex(const std::string &bytes);

// For a forked child: standard input from `in`, output and errors to the files
// `out` and `err`, then `program` with `args`. Never returns; 127 when it cannot start.
[[noreturn]] void exec_program(const std::string &program, const std::vector<std::string> &args,
                               const std::string &in, const std::string &out,
                               const std::string &err);

struct recorded_request {
    std::string method, target; // target is path?query exactly as received
    std::vector<std::pair<std::string, std::string>> headers; // wire order and case
    size_t body_size = 0;

    // The first header of that name in any case; empty when there is none.
    std::string header(const std::string &name) const
    {
        for (const auto &h : headers) {
            if (strcasecmp(h.first.c_str(), name.c_str()) == 0) {
                return h.second;
            }
        }
        return {};
    }
};

// Runs tests/support/fault_proxy.js in front of an HTTPS emulator while the object lives.
// endpoint() describes the proxy like an emulator, so code under test is pointed at it unchanged.
// Rules are JSON objects (see README.md). Methods throw std::runtime_error on failure. Not
// thread-safe.
class fault_proxy
{
  public:
    explicit fault_proxy(const emulator &upstream);
    ~fault_proxy();
    fault_proxy(const fault_proxy &) = delete;
    fault_proxy &operator=(const fault_proxy &) = delete;

    const emulator &endpoint() const;
    void add_rule(const std::string &json);
    void clear_rules();
    std::vector<recorded_request> requests();
    void clear_log();

  private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

} // namespace ostrel_test

#endif
