// Tokens shaped like the identity platform's access tokens for storage. The
// emulator decodes them without checking the signature; it checks iat, nbf,
// exp, the issuer prefix and the audience. Keep in step with lib/jwt.js.
#include "test_support.h"

#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <vector>

namespace ostrel_test
{

namespace
{

const char *const tenant = "8f3c0c4e-5d2a-4b71-9a0e-0f7d1c2b3a45";

std::string base64url(const std::string &in)
{
    std::vector<unsigned char> out(4 * ((in.size() + 2) / 3) + 1);
    int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char *>(in.data()),
                            static_cast<int>(in.size()));
    std::string text(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
    text.erase(text.find_last_not_of('=') + 1);
    std::replace(text.begin(), text.end(), '+', '-');
    std::replace(text.begin(), text.end(), '/', '_');
    return text;
}

std::string expiry_text(long long epoch_seconds)
{
    std::time_t t = static_cast<std::time_t>(epoch_seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof(buf), "%Y-%m-%dT%H:%M:%S.000000+00:00", &tm);
    return buf;
}

std::string mint_token_at(long long now, long lifetime_seconds)
{
    long long exp = now + lifetime_seconds;
    // An expired token was issued before it expired, so only exp is wrong.
    long long iat = (exp < now ? exp : now) - 300;
    std::string header = R"({"alg":"RS256","typ":"JWT"})";
    std::string payload = std::string(R"({"aud":"https://storage.azure.com",)") +
                          R"("iss":"https://sts.windows.net/)" + tenant + R"(/",)" + R"("iat":)" +
                          std::to_string(iat) + R"(,"nbf":)" + std::to_string(iat) + R"(,"exp":)" +
                          std::to_string(exp) + R"(,"oid":"0b1d5e2a-7c3f-4e89-b6a1-2d4c6e8f0a13")" +
                          R"(,"sub":"ostrel-test-subject","tid":")" + tenant + R"(","jti":")" +
                          unique_name("jti") + R"("})";
    return base64url(header) + "." + base64url(payload) + "." + base64url("ostrel-test-signature");
}

} // namespace

std::string mint_token(long lifetime_seconds)
{
    return mint_token_at(static_cast<long long>(std::time(nullptr)), lifetime_seconds);
}

std::string mint_creds(long lifetime_seconds, const std::string &sub)
{
    long long now = static_cast<long long>(std::time(nullptr));
    // The values are ours and need no escaping: base64url, a date and a plain subject.
    return "{\"access_token\":\"" + mint_token_at(now, lifetime_seconds) +
           "\",\"token_expiry\":\"" + expiry_text(now + lifetime_seconds) + "\",\"sub\":\"" + sub +
           "\"}";
}

} // namespace ostrel_test
