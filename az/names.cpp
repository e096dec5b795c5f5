/* The name rules of the blob service client, for callers of the flat interface. */
#include <string>

#include "az/az.h"
#include "blob_service/names.h"

namespace bs = azure::blob_service;

const char *AZ_key_error(const char *key)
{
    if (key == nullptr) {
        return "no key";
    }
    return bs::path_error(key);
}

const char *AZ_account_error(const char *account)
{
    if (account == nullptr) {
        return "no account";
    }
    // "name" or "name:endpoint"; a second colon belongs to the endpoint (a port).
    std::string text(account);
    size_t colon = text.find(':');
    const char *error = bs::account_name_error(text.substr(0, colon));
    // "name:" with nothing after the colon is the public cloud, as "name" is.
    if (error != nullptr || colon == std::string::npos || colon + 1 == text.size()) {
        return error;
    }
    return bs::endpoint_error(text.substr(colon + 1));
}
