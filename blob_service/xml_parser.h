#pragma once

#include <string>

#include "blob_service/responses.h"
#include "blob_service/storage_error.h"
#include "blob_service/storage_outcome.h"

namespace azure::blob_service
{

// Reads the XML bodies of the service. Holds no state; shared by all requests of a client.
class xml_parser_base
{
  public:
    virtual ~xml_parser_base() = default;

    // Fills code_name, message and details; a body that is not an <Error> document leaves
    // them empty. Never fails: the caller still knows the HTTP status.
    virtual storage_error parse_storage_error(const std::string &xml) const = 0;

    // A body that is not a well-formed listing is a failure of kind parse, never an empty
    // listing.
    virtual storage_outcome<list_containers_segmented_response>
    parse_list_containers_segmented_response(const std::string &xml) const = 0;
    virtual storage_outcome<list_blobs_segmented_response>
    parse_list_blobs_segmented_response(const std::string &xml) const = 0;
    // A body that is not a BlockList document is a failure of kind parse.
    virtual storage_outcome<block_list_response>
    parse_block_list_response(const std::string &xml) const = 0;
};

class tinyxml2_parser final : public xml_parser_base
{
  public:
    storage_error parse_storage_error(const std::string &xml) const override;
    storage_outcome<list_containers_segmented_response>
    parse_list_containers_segmented_response(const std::string &xml) const override;
    storage_outcome<list_blobs_segmented_response>
    parse_list_blobs_segmented_response(const std::string &xml) const override;
    storage_outcome<block_list_response>
    parse_block_list_response(const std::string &xml) const override;
};

} // namespace azure::blob_service
