#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

namespace ostrel_test
{

namespace
{

std::map<std::string, std::string> read_env_file(const std::string &path)
{
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read emulator env file " + path +
                                 " (is the emulator fixture running?)");
    }
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos || line[0] == '#') {
            continue;
        }
        values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

} // namespace

emulator emulator_from_env()
{
    const char *path = std::getenv("OSTREL_TEST_EMULATOR");
    if (path == nullptr || *path == '\0') {
        throw std::runtime_error("OSTREL_TEST_EMULATOR is not set; run the test through ctest");
    }
    auto values = read_env_file(path);
    auto optional = [&](const std::string &key) { return values[key]; };
    auto required = [&](const std::string &key) {
        if (values[key].empty()) {
            throw std::runtime_error("emulator env file " + std::string(path) + " has no " + key);
        }
        return values[key];
    };

    emulator e;
    e.host = required("OSTREL_TEST_HOST");
    std::string port = required("OSTREL_TEST_PORT");
    e.port = std::atoi(port.c_str());
    if (e.port <= 0 || e.port > 65535) {
        throw std::runtime_error("emulator env file " + std::string(path) + " has a bad port " +
                                 port);
    }
    e.account = required("OSTREL_TEST_ACCOUNT");
    e.endpoint = required("OSTREL_TEST_ENDPOINT");
    e.account_text = required("OSTREL_TEST_ACCOUNT_TEXT");
    e.oauth = required("OSTREL_TEST_OAUTH") == "1";
    e.use_https = optional("OSTREL_TEST_SCHEME") != "http";
    if (e.use_https) {
        e.ca_file = required("OSTREL_TEST_CA_FILE");
        e.cert_file = optional("OSTREL_TEST_CERT_FILE");
        e.key_file = optional("OSTREL_TEST_KEY_FILE");
    }
    e.account_key = optional("OSTREL_TEST_ACCOUNT_KEY");
    if (!e.oauth && e.account_key.empty()) {
        throw std::runtime_error("emulator env file " + std::string(path) +
                                 " has neither OAuth nor an account key");
    }
    return e;
}

bool large_tests_enabled()
{
    const char *skip = getenv("OSTREL_TEST_SKIP_LARGE");
    return skip == nullptr || strcmp(skip, "1") != 0;
}

} // namespace ostrel_test
