#ifndef OSTREL_AZ_BLOCK_ID_H
#define OSTREL_AZ_BLOCK_ID_H

#include <cstdint>
#include <string>

namespace ostrel_az
{

// Length of every block identifier's text before base64: the service wants all identifiers
// of one blob equally long.
constexpr size_t block_id_text_length = 48;

// Base64 of `upload_id`, dashes and `index` in decimal, block_id_text_length characters in
// all. Throws std::length_error when they do not fit.
std::string block_id(const std::string &upload_id, uint64_t index);

} // namespace ostrel_az

#endif
