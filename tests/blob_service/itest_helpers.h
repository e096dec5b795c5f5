// Shared pieces of the blob service integration tests: clients pointed at the emulator
// fixture (directly or through the fault proxy) and a sink that behaves like the storage
// layer's callback stream.
#pragma once

#include <cstdlib>
#include <memory>
#include <streambuf>
#include <string>

#include "blob_service/blob_client.h"
#include "test_support.h"

namespace ostrel_test
{

// The tests talk to loopback only, whatever the environment says about proxies.
inline void ignore_proxy_environment()
{
    for (const char *name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        unsetenv(name);
    }
}

// Repeats wait a few milliseconds, so that tests of faults stay quick.
inline std::shared_ptr<azure::blob_service::blob_client>
make_client(const emulator &e, std::shared_ptr<azure::blob_service::storage_credential> credential,
            const azure::blob_service::retry_settings &retry = {4, std::chrono::milliseconds(2),
                                                                std::chrono::milliseconds(10)})
{
    auto account = std::make_shared<azure::blob_service::storage_account>(
        e.account, std::move(credential), e.use_https, e.endpoint, false);
    return std::make_shared<azure::blob_service::blob_client>(account, 2, e.ca_file, std::string(),
                                                              retry);
}

// An output buffer without positioning, like the storage layer's callback stream: a seek
// fails.
class sink_buf final : public std::streambuf
{
  public:
    std::string data;

  protected:
    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        data.append(s, static_cast<size_t>(n));
        return n;
    }
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            data.push_back(traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }
};

} // namespace ostrel_test
