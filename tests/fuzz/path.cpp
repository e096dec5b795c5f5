// GridFTP paths as clients send them: the split into container and key, and the name checks
// every operation makes before it reaches the service.
#include "connector/ostrel_i_azure.h"
#include "tests/fuzz/fuzz.h"

#include <cstring>

namespace
{

// A name accepted is one the service stores under the same name: no dot segment, no empty
// component but one trailing separator.
void check_name(const char *name)
{
    if (ostrel_i_azure_name_error(name) != nullptr) {
        return;
    }
    std::string padded = "/" + std::string(name) + "/";
    FUZZ_CHECK(padded.find("/./") == std::string::npos);
    FUZZ_CHECK(padded.find("/../") == std::string::npos);
    FUZZ_CHECK(name[0] != '/' && strstr(name, "//") == nullptr);
}

} // namespace

void fuzz_one(const std::string &raw, const uint8_t *, size_t)
{
    std::string pathname = raw.c_str();
    std::string copy = pathname;
    char *container = nullptr;
    char *key = nullptr;
    ostrel_i_azure_path_parse(copy.data(), &container, &key);

    // The split loses nothing but one leading separator.
    std::string rest = pathname[0] == '/' ? pathname.substr(1) : pathname;
    FUZZ_CHECK(strchr(container, '/') == nullptr);
    FUZZ_CHECK((key == nullptr ? std::string(container) : std::string(container) + "/" + key) ==
               rest);
    check_name(container);
    if (key != nullptr) {
        check_name(key);
    }

    ostrel_result_t result = ostrel_i_azure_path_check(pathname.c_str(), container, key);
    if (result == OSTREL_SUCCESS) {
        FUZZ_CHECK(ostrel_i_azure_name_error(container) == nullptr);
        FUZZ_CHECK(key == nullptr || (container[0] != '\0' && !ostrel_i_azure_name_error(key)));
    } else {
        ostrel_object_free(ostrel_error_get(result));
    }
}
