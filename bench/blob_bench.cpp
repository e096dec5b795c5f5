// Moves one blob through the storage layer, for bench/run to time and weigh.
//
//   ostrel_blob_bench upload ACCOUNT_TEXT CA_FILE CONTAINER KEY SIZE
//   ostrel_blob_bench download ACCOUNT_TEXT CA_FILE CONTAINER KEY
//
// The bearer token comes from $OSTREL_BENCH_TOKEN so it never shows in a
// process listing. $OSTREL_BENCH_UPLOAD_BLOCK_MIB, $OSTREL_BENCH_UPLOAD_PARALLEL
// and $OSTREL_BENCH_STORE_MD5 (1) set the upload options of the same names.
// Prints one line: bytes moved and the status name.
#include "az/az.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

/* One user argument serves the data and the completion callback. */
struct run {
    uint64_t moved = 0;
    uint64_t state = 0x9e3779b97f4a7c15ull;
    AZ_status status = AZ_OK;
    std::string message;
};

// Cheap deterministic bytes, so the blob is not trivially compressible.
int32_t generate(int32_t max, unsigned char *buffer, void *arg)
{
    auto *r = static_cast<run *>(arg);
    // Eight bytes per step: the generator must cost far less than the upload.
    for (int32_t i = 0; i < max; i += 8) {
        r->state ^= r->state << 13;
        r->state ^= r->state >> 7;
        r->state ^= r->state << 17;
        std::memcpy(buffer + i, &r->state, std::min<int32_t>(8, max - i));
    }
    r->moved += static_cast<uint64_t>(max);
    return max;
}

int32_t discard(int32_t count, const unsigned char *, void *arg)
{
    static_cast<run *>(arg)->moved += static_cast<uint64_t>(count);
    return count;
}

void done(AZ_status status, AZ_error_details *details, void *arg)
{
    auto *r = static_cast<run *>(arg);
    r->status = status;
    if (details && details->message)
        r->message = details->message;
}

int refresh(void *)
{
    return 0;
}

int32_t number_from_env(const char *name)
{
    const char *text = std::getenv(name);
    return text ? static_cast<int32_t>(std::strtol(text, nullptr, 10)) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *token = std::getenv("OSTREL_BENCH_TOKEN");
    bool upload = argc == 7 && std::strcmp(argv[1], "upload") == 0;
    bool download = argc == 6 && std::strcmp(argv[1], "download") == 0;
    if (!token || (!upload && !download)) {
        std::fprintf(stderr,
                     "usage: OSTREL_BENCH_TOKEN=... %s upload|download ACCOUNT CA "
                     "CONTAINER KEY [SIZE]\n",
                     argv[0]);
        return 2;
    }
    AZ_client_options options = {};
    options.ca_file = argv[3];
    options.upload_block_mib = number_from_env("OSTREL_BENCH_UPLOAD_BLOCK_MIB");
    options.upload_parallel = number_from_env("OSTREL_BENCH_UPLOAD_PARALLEL");
    options.store_md5 = number_from_env("OSTREL_BENCH_STORE_MD5") == 1;
    AZ_client *client = nullptr;
    AZ_initialize();
    if (AZ_init_client_with_options(argv[2], token, false, refresh, nullptr, &options, &client) !=
        AZ_OK) {
        std::fprintf(stderr, "bad options: %s\n", AZ_client_options_error(&options));
        return 2;
    }

    run r;
    if (upload) {
        uint64_t size = std::strtoull(argv[6], nullptr, 10);
        AZ_put_blob(client, argv[4], argv[5], size, nullptr, generate, done, &r);
    } else {
        AZ_get_blob(client, argv[4], argv[5], 0, 0, discard, done, &r);
    }
    AZ_destroy_client(client);
    std::printf("%" PRIu64 " %s%s%s\n", r.moved, AZ_get_status_name(r.status),
                r.message.empty() ? "" : " ", r.message.c_str());
    return r.status == AZ_OK ? 0 : 1;
}
