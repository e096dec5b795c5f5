#include "az/client.h"

#include <algorithm>
#include <new>

#include "az/call.h"
#include "az/upload_plan.h"
#include "blob_service/storage_account.h"

namespace bs = azure::blob_service;

constexpr int ostrel_l_az_handles_per_client = 2;

static void ostrel_l_az_client_retry(const AZ_client_options &options, bs::retry_settings &retry)
{
    if (options.retry_attempts != 0) {
        retry.attempts = options.retry_attempts;
    }
    if (options.retry_max_delay_ms != 0) {
        retry.max_delay = std::chrono::milliseconds(options.retry_max_delay_ms);
    }
}

static AZ_status ostrel_l_az_client_create(const char *account, const char *token, bool adls,
                                           AZ_token_refresh_callback refresh, void *refresh_arg,
                                           const AZ_client_options *options, AZ_client **client)
{
    ostrel_az::require(account, "account");
    ostrel_az::require(token, "token");
    // A malformed account would send the token to whatever host it spells.
    if (AZ_account_error(account) != nullptr) {
        return AZ_FailedToInitializeRequest;
    }

    // "name" or "name:endpoint"; a second colon belongs to the endpoint (a port).
    std::string text(account);
    std::string name = text;
    std::string endpoint;
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        name = text.substr(0, colon);
        endpoint = text.substr(colon + 1);
    }
    if (AZ_client_options_error(options) != nullptr) {
        return AZ_FailedToInitializeRequest;
    }
    std::string ca_file;
    bs::retry_settings retry;
    if (options != nullptr) {
        if (options->ca_file != nullptr) {
            ca_file = options->ca_file;
        }
        ostrel_l_az_client_retry(*options, retry);
    }

    auto created = std::make_unique<AZ_client>();
    created->credential = std::make_shared<bs::token_credential>(token);
    auto storage =
        std::make_shared<bs::storage_account>(name, created->credential, true, endpoint, adls);
    // Parallel blocks of one upload each need a handle, and the session's other calls one more.
    int handles = ostrel_l_az_handles_per_client;
    if (options != nullptr && options->upload_parallel >= handles) {
        handles = options->upload_parallel + 1;
    }
    created->blob =
        std::make_shared<bs::blob_client>(storage, handles, ca_file, std::string(), retry);
    created->token = token;
    created->adls = adls;
    created->refresh = refresh;
    created->refresh_arg = refresh_arg;
    if (options != nullptr) {
        created->upload_block_size =
            static_cast<uint64_t>(options->upload_block_mib) * ostrel_az::upload_mib;
        created->upload_parallel = std::max(1, options->upload_parallel);
        created->store_md5 = options->store_md5;
    }
    *client = created.release();
    return AZ_OK;
}

const char *AZ_client_options_error(const AZ_client_options *options)
{
    if (options == nullptr) {
        return nullptr;
    }
    if (options->retry_attempts < 0 || options->retry_attempts > AZ_RETRY_ATTEMPTS_MAX) {
        return "retry attempts out of range";
    }
    if (options->retry_max_delay_ms < 0 ||
        options->retry_max_delay_ms > AZ_RETRY_MAX_DELAY_MS_MAX) {
        return "longest retry delay out of range";
    }
    if (options->upload_block_mib < 0 || options->upload_block_mib > AZ_UPLOAD_BLOCK_MIB_MAX) {
        return "upload block size out of range";
    }
    if (options->upload_parallel < 0 || options->upload_parallel > AZ_UPLOAD_PARALLEL_MAX) {
        return "parallel uploads out of range";
    }
    if (options->upload_parallel != 0 && options->upload_block_mib == 0) {
        return "parallel uploads need an upload block size";
    }
    return nullptr;
}

AZ_status AZ_initialize(void)
{
    return AZ_OK;
}

void AZ_deinitialize(void) {}

AZ_status AZ_init_client(const char *account, const char *token, bool adls,
                         AZ_token_refresh_callback refresh, void *refresh_arg, AZ_client **client)
{
    return AZ_init_client_with_options(account, token, adls, refresh, refresh_arg, nullptr, client);
}

AZ_status AZ_init_client_with_options(const char *account, const char *token, bool adls,
                                      AZ_token_refresh_callback refresh, void *refresh_arg,
                                      const AZ_client_options *options, AZ_client **client)
{
    if (client == nullptr) {
        return AZ_InternalError;
    }
    *client = nullptr;
    try {
        return ostrel_l_az_client_create(account, token, adls, refresh, refresh_arg, options,
                                         client);
    } catch (const std::bad_alloc &) {
        return AZ_OutOfMemory;
    } catch (...) {
        return AZ_InternalError;
    }
}

void AZ_destroy_client(AZ_client *client)
{
    delete client;
}

AZ_status AZ_update_token(AZ_client *client, const char *token)
{
    if (client == nullptr || token == nullptr) {
        return AZ_InternalError;
    }
    try {
        std::lock_guard<std::mutex> lock(client->token_mutex);
        if (client->token == token) {
            return AZ_OK;
        }
        // Copy first, so a failed allocation leaves credential and copy in agreement.
        std::string copy(token);
        client->credential->set_token(copy);
        client->token.swap(copy);
        return AZ_OK;
    } catch (const std::bad_alloc &) {
        return AZ_OutOfMemory;
    } catch (...) {
        return AZ_InternalError;
    }
}
