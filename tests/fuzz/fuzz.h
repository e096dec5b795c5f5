// Shared by the fuzz targets: an invariant that fails is a finding like a crash.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition);      \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// Each target defines fuzz_one: the input as text and as bytes.
void fuzz_one(const std::string &text, const uint8_t *data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_one(std::string(reinterpret_cast<const char *>(data), size), data, size);
    return 0;
}
