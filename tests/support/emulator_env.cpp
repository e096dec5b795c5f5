#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

namespace ostrel_test
{

emulator emulator_from_env()
{
    const char *path = std::getenv("OSTREL_TEST_EMULATOR");
    if (path == nullptr || *path == '\0')
        throw std::runtime_error("OSTREL_TEST_EMULATOR is not set; run the test through ctest");
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error(std::string("cannot read emulator env file ") + path +
                                 " (is the emulator fixture running?)");
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    auto required = [&](const std::string &key) {
        if (values["OSTREL_TEST_" + key].empty())
            throw std::runtime_error(std::string("emulator env file ") + path + " has no " + key);
        return values["OSTREL_TEST_" + key];
    };
    emulator e;
    e.host = required("HOST");
    e.port = std::atoi(required("PORT").c_str());
    e.account = required("ACCOUNT");
    e.endpoint = required("ENDPOINT");
    e.account_text = required("ACCOUNT_TEXT");
    e.oauth = required("OAUTH") == "1";
    e.use_https = values["OSTREL_TEST_SCHEME"] != "http";
    if (e.use_https) {
        e.ca_file = required("CA_FILE");
        e.cert_file = values["OSTREL_TEST_CERT_FILE"];
        e.key_file = values["OSTREL_TEST_KEY_FILE"];
    }
    e.account_key = values["OSTREL_TEST_ACCOUNT_KEY"];
    return e;
}

bool large_tests_enabled()
{
    const char *skip = getenv("OSTREL_TEST_SKIP_LARGE");
    return skip == nullptr || strcmp(skip, "1") != 0;
}

} // namespace ostrel_test
