#ifndef OSTREL_AZ_MD5_DIGEST_H
#define OSTREL_AZ_MD5_DIGEST_H

#include <cstddef>
#include <memory>
#include <string>

#include <openssl/evp.h>

namespace ostrel_az
{

// The MD5 of bytes fed in order. Throws std::bad_alloc when OpenSSL cannot start it.
class md5_digest
{
  public:
    md5_digest();
    void update(const void *data, size_t length);
    // Base64 of the 16-byte digest, as Content-MD5 carries it; ends the digest.
    std::string finish_base64();

  private:
    struct free_context {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, free_context> context_;
};

} // namespace ostrel_az

#endif
