// The credential documents the host hands over ("creds", "renew-creds").
#include "connector/ostrel_i_azure.h"
#include "tests/fuzz/fuzz.h"

#include <jansson.h>

namespace
{

// Everything the error chain says; empty when the document was read.
std::string error_text(const char *text)
{
    char *sub = nullptr;
    char *token = nullptr;
    time_t expiry = 0;
    ostrel_result_t result = ostrel_i_azure_parse_token_json(text, &sub, &token, &expiry);
    if (result == OSTREL_SUCCESS) {
        FUZZ_CHECK(sub != nullptr && token != nullptr);
        free(sub);
        free(token);
        return "";
    }
    FUZZ_CHECK(sub == nullptr && token == nullptr);
    ostrel_object_t *error = ostrel_error_get(result);
    FUZZ_CHECK(error != nullptr);
    std::string said = "error:";
    for (ostrel_object_t *e = error; e != nullptr; e = ostrel_error_get_cause(e)) {
        const char *part = ostrel_error_get_text(e);
        said += part != nullptr ? part : "";
    }
    ostrel_object_free(error);
    return said;
}

std::string dump(json_t *document)
{
    char *text = json_dumps(document, JSON_COMPACT | JSON_PRESERVE_ORDER);
    FUZZ_CHECK(text != nullptr);
    std::string copy = text;
    free(text);
    return copy;
}

// What is said about a document does not depend on the token in it, so it cannot show it.
void check_token_unsaid(json_t *document)
{
    json_t *token = json_object_get(document, "access_token");
    if (!json_is_string(token) || json_string_length(token) == 0) {
        return;
    }
    std::string said = error_text(dump(document).c_str());
    char other = json_string_value(token)[0] == 'Q' ? 'Z' : 'Q';
    json_object_set_new(document, "access_token",
                        json_string(std::string(json_string_length(token), other).c_str()));
    FUZZ_CHECK(error_text(dump(document).c_str()) == said);
}

} // namespace

void fuzz_one(const std::string &text, const uint8_t *, size_t)
{
    error_text(text.c_str());
    json_t *document = json_loads(text.c_str(), 0, nullptr);
    if (json_is_object(document)) {
        check_token_unsaid(document);
    }
    json_decref(document);
}
