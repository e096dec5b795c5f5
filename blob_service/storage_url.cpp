#include "blob_service/storage_url.h"

#include "blob_service/encoding.h"

namespace azure::blob_service
{

storage_url &storage_url::append_path(const std::string &segment)
{
    path_ += "/";
    path_ += segment;
    return *this;
}

storage_url &storage_url::add_query(const std::string &key, const std::string &value)
{
    query_[key].insert(value);
    return *this;
}

std::string storage_url::get_encoded_path() const
{
    return encode_url_path(path_);
}

std::string storage_url::to_string() const
{
    std::string url = domain_ + get_encoded_path();
    char separator = '?';
    for (const auto &[key, values] : query_) {
        for (const auto &value : values) {
            url += separator;
            url += encode_url_query(key);
            url += '=';
            url += encode_url_query(value);
            separator = '&';
        }
    }
    return url;
}

} // namespace azure::blob_service
