#pragma once

#include <map>
#include <set>
#include <string>

namespace azure::blob_service
{

// A request URL under construction: domain as composed by the account, an unencoded path and
// a query kept sorted by key, so rendering and signing see the same order.
class storage_url
{
  public:
    using query_map = std::map<std::string, std::set<std::string>>;

    storage_url() = default;
    explicit storage_url(std::string domain) : domain_(std::move(domain)) {}

    storage_url &append_path(const std::string &segment);
    storage_url &add_query(const std::string &key, const std::string &value);

    const std::string &get_domain() const { return domain_; }
    const std::string &get_path() const { return path_; }
    const query_map &get_query() const { return query_; }

    std::string get_encoded_path() const;
    std::string to_string() const;

  private:
    std::string domain_;
    std::string path_;
    query_map query_;
};

} // namespace azure::blob_service
