#include "az/properties.h"

namespace ostrel_az
{

properties_record::properties_record(std::string name) : name_(std::move(name))
{
    record_.last_modified = -1;
    record_.is_directory = true;
}

void properties_record::set_file(uint64_t size, int64_t last_modified, std::string md5,
                                 const blob_metadata_scan &metadata)
{
    record_.is_directory = false;
    record_.size = size;
    record_.last_modified = last_modified;
    md5_ = std::move(md5);
    if (metadata.has_modtime) {
        modtime_ = metadata.modtime;
        record_.metadata_count = 1;
    }
}

void properties_record::set_blob(const std::string &etag, bool folder_marker)
{
    bool quoted = !etag.empty() && etag.back() == '"'; // also a weak W/"..."
    etag_ = etag.empty() || quoted ? etag : '"' + etag + '"';
    record_.folder_marker = folder_marker;
}

void properties_record::report(AZ_properties_callback callback, void *arg)
{
    if (callback == nullptr) {
        return;
    }
    // Pointers are taken here, after every string has its final place.
    record_.name = name_.c_str();
    record_.md5 = md5_.empty() ? nullptr : md5_.c_str();
    record_.etag = etag_.empty() ? nullptr : etag_.c_str();
    if (record_.metadata_count == 1) {
        modtime_pair_ = {"ostrel_modtime", modtime_.c_str()};
        record_.metadata = &modtime_pair_;
    } else {
        record_.metadata = nullptr;
    }
    callback(&record_, arg);
}

} // namespace ostrel_az
