#include "blob_service/storage_account.h"

#include <stdexcept>

#include "blob_service/constants.h"
#include "blob_service/names.h"

namespace azure::blob_service
{

namespace
{

// Scheme plus host, and "/" plus the base path when the endpoint has one.
std::string custom_domain(const std::string &scheme, std::string endpoint)
{
    size_t scheme_end = endpoint.find("://");
    if (scheme_end != std::string::npos) {
        endpoint.erase(0, scheme_end + 3);
    }
    size_t slash = endpoint.find('/');
    std::string host = endpoint.substr(0, slash);
    std::string base;
    if (slash != std::string::npos) {
        size_t base_start = endpoint.find_first_not_of('/', slash);
        if (base_start != std::string::npos) {
            base = endpoint.substr(base_start);
        }
    }
    // A dot segment would be resolved away on the way and move every request elsewhere.
    if (path_error(base) != nullptr) {
        throw std::invalid_argument("the endpoint's base path has a \".\" or \"..\" segment");
    }
    std::string domain = scheme + host;
    if (!base.empty()) {
        domain += "/" + base;
    }
    return domain;
}

} // namespace

storage_account::storage_account(const std::string &account_name,
                                 std::shared_ptr<storage_credential> credential, bool use_https,
                                 const std::string &blob_endpoint, bool adls)
    : account_name_(account_name), credential_(std::move(credential)), adls_(adls)
{
    std::string scheme = use_https ? "https://" : "http://";
    if (blob_endpoint.empty()) {
        std::string base = scheme + account_name;
        std::string suffix = constants::default_endpoint_suffix;
        blob_ = storage_url(base + ".blob" + suffix);
        table_ = storage_url(base + ".table" + suffix);
        queue_ = storage_url(base + ".queue" + suffix);
        file_ = storage_url(base + ".file" + suffix);
        dfs_ = storage_url(base + ".dfs" + suffix);
        return;
    }
    std::string domain = custom_domain(scheme, blob_endpoint);
    blob_ = table_ = queue_ = file_ = dfs_ = storage_url(domain);
}

} // namespace azure::blob_service
