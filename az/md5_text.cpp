#include "az/md5_text.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "blob_service/encoding.h"

constexpr size_t ostrel_l_az_md5_size = 16;

std::string AZ_md5_hex(const std::string &content_md5)
{
    if (content_md5.empty()) {
        return {};
    }
    std::vector<uint8_t> digest;
    try {
        digest = azure::blob_service::from_base64(content_md5);
    } catch (const std::runtime_error &) {
        return {};
    }
    if (digest.size() != ostrel_l_az_md5_size) {
        return {};
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (uint8_t byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}
