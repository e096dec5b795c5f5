#pragma once

#include <memory>
#include <string>

#include "blob_service/credential.h"
#include "blob_service/storage_url.h"

namespace azure::blob_service
{

// Endpoints and credential of one storage account; immutable after construction and shared
// by a client and every request in flight.
class storage_account
{
  public:
    // An empty `blob_endpoint` means the public cloud. Otherwise it is host[:port][/base],
    // any scheme in it is replaced by the one `use_https` selects. Throws
    // std::invalid_argument when the base path has a "." or ".." segment.
    storage_account(const std::string &account_name, std::shared_ptr<storage_credential> credential,
                    bool use_https, const std::string &blob_endpoint, bool adls);

    const std::string &account_name() const { return account_name_; }
    std::shared_ptr<storage_credential> credential() const { return credential_; }
    bool adls() const { return adls_; }

    storage_url get_url_blob() const { return blob_; }
    storage_url get_url_table() const { return table_; }
    storage_url get_url_queue() const { return queue_; }
    storage_url get_url_file() const { return file_; }
    storage_url get_url_dfs() const { return dfs_; }

  private:
    std::string account_name_;
    std::shared_ptr<storage_credential> credential_;
    bool adls_;
    storage_url blob_;
    storage_url table_;
    storage_url queue_;
    storage_url file_;
    storage_url dfs_;
};

} // namespace azure::blob_service
