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

inline std::string fuzz_text(const uint8_t *data, size_t size)
{
    return std::string(reinterpret_cast<const char *>(data), size);
}
