#pragma once

#include <string>

namespace azure::blob_service
{

// The names that reach a request URL. Each check returns nullptr when the name is usable and
// otherwise a constant text saying what is wrong with it.

// A blob name, or a base path: a "." or ".." segment would be resolved away by libcurl or by
// a server on the way, so the request would reach another blob or another container.
const char *path_error(const std::string &path);

// An account name as the service allows it: 3 to 24 lower-case letters and digits. Anything
// else could make the public endpoint's host name point somewhere else.
const char *account_name_error(const std::string &name);

// A custom endpoint: [scheme://]host[:port][/base path], nothing that ends or redirects the
// authority (user info, query, fragment, white space) and no dot segment in the base path.
const char *endpoint_error(const std::string &endpoint);

} // namespace azure::blob_service
