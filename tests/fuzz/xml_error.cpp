// Error bodies: any answer of a failed request, whoever sent it.
#include "blob_service/xml_parser.h"
#include "tests/fuzz/fuzz.h"

#include <cstring>

namespace bs = azure::blob_service;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bs::tinyxml2_parser parser;
    bs::storage_error error = parser.parse_storage_error(fuzz_text(data, size));
    // The executor owns the status code and the kind.
    FUZZ_CHECK(error.code.empty());
    FUZZ_CHECK(error.kind == bs::storage_error().kind);
    // Code and Message have fields of their own; details carry the rest.
    for (const auto &[name, value] : error.details) {
        FUZZ_CHECK(name != "Code" && name != "Message" && !name.empty());
    }
    if (!error.code_name.empty() || !error.message.empty()) {
        FUZZ_CHECK(memmem(data, size, "Error", 5) != nullptr);
    }
    return 0;
}
