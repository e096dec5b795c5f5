#include "blob_service/credential.h"

#include "blob_service/encoding.h"

namespace azure::blob_service
{

namespace
{

// The path part of a custom endpoint (such as an emulator's "/account"): the service signs
// the whole request path, and public endpoints have none.
std::string domain_path(const std::string &domain)
{
    size_t scheme_end = domain.find("://");
    size_t host_start = scheme_end == std::string::npos ? 0 : scheme_end + 3;
    size_t slash = domain.find('/', host_start);
    return slash == std::string::npos ? std::string() : domain.substr(slash);
}

} // namespace

void token_credential::sign_request(const storage_request_base &, http_base &http,
                                    const storage_url &, const storage_headers &) const
{
    std::string value;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        value = "Bearer " + token_;
    }
    http.add_header("Authorization", value);
}

void token_credential::set_token(const std::string &token)
{
    std::lock_guard<std::mutex> lock(mutex_);
    token_ = token;
}

shared_key_credential::shared_key_credential(const std::string &account_name,
                                             const std::string &account_key)
    : account_name_(account_name), account_key_(from_base64(account_key))
{
}

shared_key_credential::shared_key_credential(const std::string &account_name,
                                             const std::vector<uint8_t> &account_key)
    : account_name_(account_name), account_key_(account_key)
{
}

std::string shared_key_credential::string_to_sign(http_method method, const storage_url &url,
                                                  const storage_headers &headers) const
{
    std::string text = get_http_verb(method) + "\n";
    for (const std::string *line :
         {&headers.content_encoding, &headers.content_language, &headers.content_length,
          &headers.content_md5, &headers.content_type}) {
        text += *line + "\n";
    }
    text += "\n";
    for (const std::string *line : {&headers.if_modified_since, &headers.if_match,
                                    &headers.if_none_match, &headers.if_unmodified_since}) {
        text += *line + "\n";
    }
    text += "\n";

    std::map<std::string, std::string> canonical;
    for (const auto &[name, value] : headers.ms_headers) {
        canonical.emplace(to_lowercase(name), value);
    }
    for (const auto &[name, value] : canonical) {
        text += name + ":" + value + "\n";
    }

    text += "/" + account_name_ + domain_path(url.get_domain()) + url.get_encoded_path();
    for (const auto &[key, values] : url.get_query()) {
        text += "\n" + to_lowercase(key);
        if (values.empty()) {
            continue;
        }
        char separator = ':';
        for (const auto &value : values) {
            text += separator;
            text += value;
            separator = ',';
        }
    }
    return text;
}

void shared_key_credential::sign_request(const storage_request_base &, http_base &http,
                                         const storage_url &url,
                                         const storage_headers &headers) const
{
    std::string signature = hash(string_to_sign(http.get_method(), url, headers), account_key_);
    http.add_header("Authorization", "SharedKey " + account_name_ + ":" + signature);
}

} // namespace azure::blob_service
