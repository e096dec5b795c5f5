/*
 * The session's storage client behind the opaque AZ_client handle.
 */
#ifndef OSTREL_AZ_CLIENT_H
#define OSTREL_AZ_CLIENT_H

#include <memory>
#include <mutex>
#include <string>

#include "az/az.h"
#include "blob_service/blob_client.h"
#include "blob_service/credential.h"

struct AZ_client {
    // Requests in flight may hold further references.
    std::shared_ptr<azure::blob_service::blob_client> blob;
    // The credential the account signs with; kept to install new tokens.
    std::shared_ptr<azure::blob_service::token_credential> credential;
    // Two uploads of one session may refresh at once; guards token and its installation.
    std::mutex token_mutex;
    std::string token;
    bool adls = false;
    AZ_token_refresh_callback refresh = nullptr;
    void *refresh_arg = nullptr;
    uint64_t upload_block_size = 0; // bytes; 0: uploads are streamed, not staged
    int upload_parallel = 1;
    bool store_md5 = false;
};

#endif
