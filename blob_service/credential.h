#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "blob_service/http_base.h"
#include "blob_service/storage_url.h"

namespace azure::blob_service
{

class storage_request_base;

// The signed subset of a request's headers, filled by the request builders. Empty strings
// stand for absent headers.
struct storage_headers {
    std::string content_encoding;
    std::string content_language;
    std::string content_length;
    std::string content_md5;
    std::string content_type;
    std::string if_modified_since;
    std::string if_match;
    std::string if_none_match;
    std::string if_unmodified_since;
    std::map<std::string, std::string> ms_headers;
};

// Adds the authentication header to a fully built request. Shared by every request of a
// client, possibly on several threads at once.
class storage_credential
{
  public:
    virtual ~storage_credential() = default;
    virtual void sign_request(const storage_request_base &request, http_base &http,
                              const storage_url &url, const storage_headers &headers) const = 0;
    virtual std::string transform_url(std::string url) const { return url; }
};

class token_credential final : public storage_credential
{
  public:
    explicit token_credential(const std::string &token) : token_(token) {}

    void sign_request(const storage_request_base &request, http_base &http, const storage_url &url,
                      const storage_headers &headers) const override;
    // Requests signed after this returns carry the new token.
    void set_token(const std::string &token);

  private:
    mutable std::mutex mutex_;
    std::string token_;
};

class shared_key_credential final : public storage_credential
{
  public:
    // `account_key` is Base64; a malformed key throws std::runtime_error.
    shared_key_credential(const std::string &account_name, const std::string &account_key);
    shared_key_credential(const std::string &account_name, const std::vector<uint8_t> &account_key);

    void sign_request(const storage_request_base &request, http_base &http, const storage_url &url,
                      const storage_headers &headers) const override;

    std::string string_to_sign(http_method method, const storage_url &url,
                               const storage_headers &headers) const;

  private:
    std::string account_name_;
    std::vector<uint8_t> account_key_;
};

} // namespace azure::blob_service
