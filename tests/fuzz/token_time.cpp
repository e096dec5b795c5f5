// Credential expiry timestamps, and the tool's own timestamps read back by the plug-in.
#include "connector/token_time.h"
#include "tests/fuzz/fuzz.h"
#include "tools/credential_parse.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = fuzz_text(data, size);
    time_t seconds = 0;
    ostrel_i_azure_token_time(text.c_str(), &seconds);

    int64_t when = 0;
    memcpy(&when, data, size < sizeof when ? size : sizeof when);
    if (when >= 0 && when <= 253402300799) {
        FUZZ_CHECK(
            ostrel_i_azure_token_time(ostrel_cli::credential_timestamp(when).c_str(), &seconds));
        FUZZ_CHECK(seconds == when);
    }
    return 0;
}
