// The session's "config" document, as the host hands it over.
#include "connector/ostrel_i_azure.h"
#include "tests/fuzz/fuzz.h"

void fuzz_one(const std::string &text, const uint8_t *, size_t)
{
    char *account = nullptr;
    char *ca_file = nullptr;
    bool adls = false;
    AZ_client_options tuning = {};
    ostrel_result_t result =
        ostrel_i_azure_config_parse_json(nullptr, text.c_str(), &account, &adls, &ca_file, &tuning);
    if (result != OSTREL_SUCCESS) {
        FUZZ_CHECK(account == nullptr && ca_file == nullptr);
        ostrel_object_t *error = ostrel_error_get(result);
        FUZZ_CHECK(error != nullptr);
        ostrel_object_free(error);
        return;
    }
    FUZZ_CHECK(account != nullptr && account[0] != '\0');
    free(account);
    free(ca_file);
}
