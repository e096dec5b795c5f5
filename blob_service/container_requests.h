#pragma once

#include <string>

#include "blob_service/request_base.h"

namespace azure::blob_service
{

class create_container_request final : public blob_request_base
{
  public:
    explicit create_container_request(std::string container) : container_(std::move(container)) {}
    void build_request(const storage_account &account, http_base &http) const override;
    std::vector<done_answer> done_answers() const override
    {
        return {{409, "ContainerAlreadyExists"}};
    }

  private:
    std::string container_;
    std::string public_access_; // never set by this system
};

class delete_container_request final : public blob_request_base
{
  public:
    explicit delete_container_request(std::string container) : container_(std::move(container)) {}
    void build_request(const storage_account &account, http_base &http) const override;
    // The service takes a while to remove a container and says so meanwhile.
    std::vector<done_answer> done_answers() const override
    {
        return {{404, "ContainerNotFound"}, {409, "ContainerBeingDeleted"}};
    }

  private:
    std::string container_;
};

class get_container_property_request final : public blob_request_base
{
  public:
    explicit get_container_property_request(std::string container)
        : container_(std::move(container))
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;

  private:
    std::string container_;
};

class list_containers_request final : public blob_request_base
{
  public:
    list_containers_request(std::string prefix, std::string marker, int maxresults,
                            bool include_metadata)
        : prefix_(std::move(prefix)), marker_(std::move(marker)), maxresults_(maxresults),
          include_metadata_(include_metadata)
    {
    }
    void build_request(const storage_account &account, http_base &http) const override;

  private:
    std::string prefix_;
    std::string marker_;
    int maxresults_;
    bool include_metadata_;
};

} // namespace azure::blob_service
