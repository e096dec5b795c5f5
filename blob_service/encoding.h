#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "blob_service/http_method.h"

namespace azure::blob_service
{

std::string to_base64(const uint8_t *data, size_t len);
std::string to_base64(const std::vector<uint8_t> &data);

// Throws std::runtime_error on malformed input; never returns a partial result.
std::vector<uint8_t> from_base64(const std::string &text);

// Base64 of HMAC-SHA256(key, text).
std::string hash(const std::string &text, const std::vector<uint8_t> &key);

std::string to_lowercase(std::string text);

std::string get_uuid();

// (0, 0) means no range; an end of 0 means "to the end of the blob".
std::string get_ms_range(uint64_t start, uint64_t end);

// Unambiguous form: bytes=START-END, or bytes=START- without an end.
std::string format_ms_range(uint64_t start, std::optional<uint64_t> end);

std::string get_http_verb(http_method method);

std::string encode_url_path(const std::string &text);
std::string encode_url_query(const std::string &text);

bool retryable(int status);
bool unsuccessful(int status);

} // namespace azure::blob_service
