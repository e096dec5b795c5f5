// What token sources print (the credential document itself, the Azure command-line tool's
// output, a managed-identity answer), read into the plug-in's credential document; expiry
// timestamps, and the tool's own timestamps read back by the plug-in.
#include "connector/token_time.h"
#include "tests/fuzz/fuzz.h"
#include "tools/credential_parse.h"

#include <jansson.h>

#include <cstring>

namespace
{

// The access token the input names, if any.
std::string token_of(json_t *document)
{
    json_t *token = json_object_get(document, "accessToken");
    if (token == nullptr) {
        token = json_object_get(document, "access_token");
    }
    return json_is_string(token) ? json_string_value(token) : "";
}

// A converted document is one the plug-in reads, with the token it was given.
void check_document(const std::string &document, const std::string &token)
{
    json_t *out = json_loads(document.c_str(), 0, nullptr);
    FUZZ_CHECK(json_is_object(out));
    const char *expiry = json_string_value(json_object_get(out, "token_expiry"));
    time_t seconds = 0;
    FUZZ_CHECK(expiry != nullptr && ostrel_i_azure_token_time(expiry, &seconds));
    FUZZ_CHECK(seconds >= 0);
    FUZZ_CHECK(json_is_string(json_object_get(out, "sub")));
    const char *kept = json_string_value(json_object_get(out, "access_token"));
    FUZZ_CHECK(kept != nullptr && token == kept);
    json_decref(out);
}

} // namespace

void fuzz_one(const std::string &text, const uint8_t *data, size_t size)
{
    ostrel_cli::credential_result result = ostrel_cli::credential_document(text);
    FUZZ_CHECK(result.document.has_value() != !result.error.empty());

    json_t *input = json_loadb(text.data(), text.size(), 0, nullptr);
    std::string token = token_of(input);
    bool passed_on = json_object_get(input, "token_expiry") != nullptr;
    json_decref(input);
    if (!result.document) {
        // A token never shows. The error texts are fixed but for numbers and hold none of
        // these characters, so a token with one of them cannot be part of them by chance.
        if (token.size() >= 8 && token.find_first_of("~^|") != std::string::npos) {
            FUZZ_CHECK(result.error.find(token) == std::string::npos);
        }
    } else if (!passed_on) {
        check_document(*result.document, token);
    }

    ostrel_cli::jwt_claim(text, "exp");
    ostrel_cli::parse_local_time(text);
    std::optional<int64_t> seconds = ostrel_cli::parse_epoch_seconds(text);
    FUZZ_CHECK(!seconds || (*seconds >= 0 && *seconds <= 253402300799));

    time_t read = 0;
    ostrel_i_azure_token_time(text.c_str(), &read);
    int64_t when = 0;
    memcpy(&when, data, size < sizeof when ? size : sizeof when);
    if (when >= 0 && when <= 253402300799) {
        FUZZ_CHECK(
            ostrel_i_azure_token_time(ostrel_cli::credential_timestamp(when).c_str(), &read));
        FUZZ_CHECK(read == when);
    }
}
