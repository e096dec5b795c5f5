/*
 * Building the AZ_properties records handed to properties callbacks.
 */
#ifndef OSTREL_AZ_PROPERTIES_H
#define OSTREL_AZ_PROPERTIES_H

#include <string>

#include "az/az.h"
#include "az/metadata.h"

namespace ostrel_az
{

// An AZ_properties record and the texts it points to.
class properties_record
{
  public:
    // A directory (container, prefix or folder marker): size 0, no time, no md5, no metadata.
    explicit properties_record(std::string name);

    void set_file(uint64_t size, int64_t last_modified, std::string md5,
                  const blob_metadata_scan &metadata);
    // A blob, whether reported as a file or a directory. An ETag without its quotes (as
    // listings give it) is quoted, so that it serves as an If-Match value.
    void set_blob(const std::string &etag, bool folder_marker);
    // Calls `callback` (if not NULL) with the record; its result is of no interest.
    void report(AZ_properties_callback callback, void *arg);

  private:
    std::string name_;
    std::string md5_;
    std::string etag_;
    std::string modtime_;
    AZ_name_value modtime_pair_ = {nullptr, nullptr};
    AZ_properties record_ = {};
};

} // namespace ostrel_az

#endif
