// The credential documents the host hands over ("creds", "renew-creds").
#include "connector/ostrel_i_azure.h"
#include "tests/fuzz/fuzz.h"

#include <jansson.h>

namespace
{

std::string member(json_t *document, const char *name)
{
    const char *text = json_string_value(json_object_get(document, name));
    return text != nullptr ? text : "";
}

// Everything the error chain says.
std::string chain_text(ostrel_object_t *error)
{
    std::string text;
    for (ostrel_object_t *e = error; e != nullptr; e = ostrel_error_get_cause(e)) {
        const char *part = ostrel_error_get_text(e);
        text += part != nullptr ? part : "";
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = fuzz_text(data, size);
    char *sub = nullptr;
    char *token = nullptr;
    time_t expiry = 0;
    ostrel_result_t result = ostrel_i_azure_parse_token_json(text.c_str(), &sub, &token, &expiry);
    if (result == OSTREL_SUCCESS) {
        FUZZ_CHECK(sub != nullptr && token != nullptr);
        free(sub);
        free(token);
        return 0;
    }
    FUZZ_CHECK(sub == nullptr && token == nullptr);
    ostrel_object_t *error = ostrel_error_get(result);
    FUZZ_CHECK(error != nullptr);

    json_t *document = json_loads(text.c_str(), 0, nullptr);
    std::string secret = member(document, "access_token");
    // The expiry is quoted when unreadable; a token that is part of it shows through it.
    if (secret.size() >= 8 && member(document, "token_expiry").find(secret) == std::string::npos) {
        std::string said = chain_text(error);
        FUZZ_CHECK(said.find(secret) == std::string::npos);
    }
    json_decref(document);
    ostrel_object_free(error);
    return 0;
}
