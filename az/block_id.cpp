#include "az/block_id.h"

#include <stdexcept>

#include "blob_service/encoding.h"

namespace ostrel_az
{

std::string block_id(const std::string &upload_id, uint64_t index)
{
    std::string number = std::to_string(index);
    if (upload_id.size() + number.size() > block_id_text_length) {
        throw std::length_error("block identifier longer than 48 characters");
    }
    std::string text = upload_id;
    text.append(block_id_text_length - upload_id.size() - number.size(), '-');
    text += number;
    return azure::blob_service::to_base64(reinterpret_cast<const uint8_t *>(text.data()),
                                          text.size());
}

} // namespace ostrel_az
