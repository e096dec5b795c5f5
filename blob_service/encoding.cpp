#include "blob_service/encoding.h"

#include <array>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <uuid/uuid.h>

#include "blob_service/constants.h"

namespace azure::blob_service
{

namespace
{

const char base64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t base64_pad = 254;
constexpr uint8_t base64_invalid = 255;

std::array<uint8_t, 128> build_base64_table()
{
    std::array<uint8_t, 128> table;
    table.fill(base64_invalid);
    for (uint8_t i = 0; i < 64; ++i) {
        table[static_cast<uint8_t>(base64_alphabet[i])] = i;
    }
    table['='] = base64_pad;
    return table;
}

using encoding_set = std::array<bool, 256>;

encoding_set build_set(const char *keep)
{
    encoding_set set{};
    for (int c = 'a'; c <= 'z'; ++c) {
        set[c] = true;
    }
    for (int c = 'A'; c <= 'Z'; ++c) {
        set[c] = true;
    }
    for (int c = '0'; c <= '9'; ++c) {
        set[c] = true;
    }
    for (const char *p = keep; *p; ++p) {
        set[static_cast<unsigned char>(*p)] = true;
    }
    return set;
}

std::string percent_encode(const std::string &text, const encoding_set &set)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (set[c]) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        out.push_back('%');
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 0x0f]);
    }
    return out;
}

} // namespace

std::string to_base64(const uint8_t *data, size_t len)
{
    std::string out;
    out.reserve((len / 3 + 1) * 4);
    size_t i = 0;
    for (; i + 3 <= len; i += 3) {
        out.push_back(base64_alphabet[data[i] >> 2]);
        out.push_back(base64_alphabet[((data[i] & 0x03) << 4) | (data[i + 1] >> 4)]);
        out.push_back(base64_alphabet[((data[i + 1] & 0x0f) << 2) | (data[i + 2] >> 6)]);
        out.push_back(base64_alphabet[data[i + 2] & 0x3f]);
    }
    if (len - i == 1) {
        out.push_back(base64_alphabet[data[i] >> 2]);
        out.push_back(base64_alphabet[(data[i] & 0x03) << 4]);
        out.append("==");
    } else if (len - i == 2) {
        out.push_back(base64_alphabet[data[i] >> 2]);
        out.push_back(base64_alphabet[((data[i] & 0x03) << 4) | (data[i + 1] >> 4)]);
        out.push_back(base64_alphabet[(data[i + 1] & 0x0f) << 2]);
        out.push_back('=');
    }
    return out;
}

std::string to_base64(const std::vector<uint8_t> &data)
{
    return to_base64(data.data(), data.size());
}

std::vector<uint8_t> from_base64(const std::string &text)
{
    static const std::array<uint8_t, 128> table = build_base64_table();

    if (text.empty()) {
        return {};
    }
    if (text.size() % 4 != 0) {
        throw std::runtime_error("length of base64 string is not an even multiple of 4");
    }
    size_t padding = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80 || table[c] == base64_invalid) {
            throw std::runtime_error("invalid character found in base64 string");
        }
        if (table[c] != base64_pad) {
            continue;
        }
        size_t remaining = text.size() - i;
        if (remaining > 2 || (remaining == 2 && text[i + 1] != '=')) {
            throw std::runtime_error("invalid padding character found in base64 string");
        }
        ++padding;
    }

    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3 - padding);
    auto sextet = [&](size_t i) { return table[static_cast<unsigned char>(text[i])]; };
    size_t last = text.size() - 4;
    for (size_t i = 0; i < last; i += 4) {
        uint8_t a = sextet(i), b = sextet(i + 1), c = sextet(i + 2), d = sextet(i + 3);
        out.push_back(static_cast<uint8_t>((a << 2) | (b >> 4)));
        out.push_back(static_cast<uint8_t>((b << 4) | (c >> 2)));
        out.push_back(static_cast<uint8_t>((c << 6) | d));
    }
    uint8_t a = sextet(last), b = sextet(last + 1);
    if (a == base64_pad || b == base64_pad) {
        throw std::runtime_error("invalid padding character found in base64 string");
    }
    out.push_back(static_cast<uint8_t>((a << 2) | (b >> 4)));
    if (text[last + 2] == '=') {
        if (b & 0x0f) {
            throw std::runtime_error("Invalid end of base64 string");
        }
        return out;
    }
    uint8_t c = sextet(last + 2);
    out.push_back(static_cast<uint8_t>((b << 4) | (c >> 2)));
    if (text[last + 3] == '=') {
        if (c & 0x03) {
            throw std::runtime_error("Invalid end of base64 string");
        }
        return out;
    }
    out.push_back(static_cast<uint8_t>((c << 6) | sextet(last + 3)));
    return out;
}

std::string hash(const std::string &text, const std::vector<uint8_t> &key)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_len = 0;
    // A null key pointer with length 0 is rejected by some OpenSSL versions.
    static const uint8_t empty_key = 0;
    const uint8_t *key_data = key.empty() ? &empty_key : key.data();
    if (!HMAC(EVP_sha256(), key_data, static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char *>(text.data()), text.size(), digest,
              &digest_len)) {
        throw std::runtime_error("HMAC-SHA256 computation failed");
    }
    return to_base64(digest, digest_len);
}

std::string to_lowercase(std::string text)
{
    for (char &c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string get_uuid()
{
    uuid_t id;
    char text[37];
    uuid_generate(id);
    uuid_unparse(id, text);
    return text;
}

std::string get_ms_range(uint64_t start, uint64_t end)
{
    if (start == 0 && end == 0) {
        return {};
    }
    return format_ms_range(start, end == 0 ? std::nullopt : std::optional<uint64_t>(end));
}

std::string format_ms_range(uint64_t start, std::optional<uint64_t> end)
{
    std::string value = "bytes=" + std::to_string(start) + "-";
    if (end) {
        value += std::to_string(*end);
    }
    return value;
}

std::string get_http_verb(http_method method)
{
    switch (method) {
    case http_method::del:
        return constants::http_delete;
    case http_method::get:
        return constants::http_get;
    case http_method::head:
        return constants::http_head;
    case http_method::post:
        return constants::http_post;
    case http_method::put:
        return constants::http_put;
    case http_method::patch:
        return constants::http_patch;
    }
    return {};
}

std::string encode_url_path(const std::string &text)
{
    static const encoding_set set = build_set("-._~!$&'()*,;=/:@");
    return percent_encode(text, set);
}

std::string encode_url_query(const std::string &text)
{
    static const encoding_set set = build_set("-._~!$'()*,;/:@?");
    return percent_encode(text, set);
}

bool retryable(int status)
{
    if (status == 408) {
        return true;
    }
    if (status >= 300 && status < 500) {
        return false;
    }
    return status != 501 && status != 505;
}

bool unsuccessful(int status)
{
    return status < 200 || status > 299;
}

} // namespace azure::blob_service
