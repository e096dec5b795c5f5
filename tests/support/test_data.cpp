// Test data and an MD5 that does not come from the code under test.
#include "test_support.h"

#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>

namespace ostrel_test
{

std::string pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 16);
    }
    return bytes;
}

std::string md5_hex(const std::string &bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::string text;
    char two[3];
    for (unsigned int i = 0; i < length; i++) {
        std::snprintf(two, sizeof(two), "%02x", digest[i]);
        text += two;
    }
    return text;
}

} // namespace ostrel_test
