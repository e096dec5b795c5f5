#ifndef OSTREL_AZ_MD5_TEXT_H
#define OSTREL_AZ_MD5_TEXT_H

#include <string>

// Lowercase hexadecimal of a base64 Content-MD5 value. "" (reported as no md5) when the text
// is empty, is not base64 or is not a 16-byte digest: a listing or a properties call must
// not fail over a damaged checksum header.
std::string AZ_md5_hex(const std::string &content_md5);

#endif
