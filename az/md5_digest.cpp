#include "az/md5_digest.h"

#include <new>
#include <stdexcept>

#include "blob_service/encoding.h"

namespace ostrel_az
{

md5_digest::md5_digest() : context_(EVP_MD_CTX_new())
{
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_md5(), nullptr) != 1) {
        throw std::bad_alloc();
    }
}

void md5_digest::update(const void *data, size_t length)
{
    if (EVP_DigestUpdate(context_.get(), data, length) != 1) {
        throw std::runtime_error("MD5 update failed");
    }
}

std::string md5_digest::finish_base64()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) {
        throw std::runtime_error("MD5 final failed");
    }
    return azure::blob_service::to_base64(digest, length);
}

} // namespace ostrel_az
