#include "blob_service/names.h"

#include <cctype>

#include <arpa/inet.h>

namespace azure::blob_service
{

const char *path_error(const std::string &path)
{
    size_t start = 0;
    for (;;) {
        size_t end = path.find('/', start);
        size_t length = (end == std::string::npos ? path.size() : end) - start;
        if ((length == 1 && path[start] == '.') ||
            (length == 2 && path[start] == '.' && path[start + 1] == '.')) {
            return "has a \".\" or \"..\" segment";
        }
        if (end == std::string::npos) {
            return nullptr;
        }
        start = end + 1;
    }
}

const char *account_name_error(const std::string &name)
{
    if (name.size() < 3 || name.size() > 24) {
        return "an account name has 3 to 24 characters";
    }
    for (unsigned char c : name) {
        if (!std::islower(c) && !std::isdigit(c)) {
            return "an account name has only lower-case letters and digits";
        }
    }
    return nullptr;
}

namespace
{

const char scheme_chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.";

const char *port_error(const std::string &port)
{
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) == 0 ||
        std::stoul(port) > 65535) {
        return "the endpoint's port is not a number from 1 to 65535";
    }
    return nullptr;
}

// [v6] or [v6]:port
const char *bracketed_authority_error(const std::string &authority)
{
    size_t close = authority.find(']');
    struct in6_addr address;
    if (close == std::string::npos ||
        inet_pton(AF_INET6, authority.substr(1, close - 1).c_str(), &address) != 1) {
        return "the endpoint's host is not a bracketed IPv6 address";
    }
    if (close + 1 == authority.size()) {
        return nullptr;
    }
    if (authority[close + 1] != ':') {
        return "the endpoint's host is followed by something other than a port";
    }
    return port_error(authority.substr(close + 2));
}

// host, host:port or [v6]:port
const char *authority_error(const std::string &authority)
{
    if (!authority.empty() && authority[0] == '[') {
        return bracketed_authority_error(authority);
    }
    size_t colon = authority.find(':');
    std::string host = authority.substr(0, colon);
    if (host.empty()) {
        return "the endpoint has no host";
    }
    for (unsigned char c : host) {
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') {
            return "the endpoint's host has a character a host name cannot have";
        }
    }
    return colon == std::string::npos ? nullptr : port_error(authority.substr(colon + 1));
}

} // namespace

const char *endpoint_error(const std::string &endpoint)
{
    std::string rest = endpoint;
    size_t scheme_end = rest.find("://");
    if (scheme_end != std::string::npos) {
        // Whatever precedes the first "://" is dropped, so it had better be a scheme and not
        // a host or path the user meant.
        if (scheme_end == 0 || !std::isalpha(static_cast<unsigned char>(rest[0])) ||
            rest.find_first_not_of(scheme_chars) < scheme_end) {
            return "the endpoint's scheme is not a scheme";
        }
        rest.erase(0, scheme_end + 3);
    }
    for (unsigned char c : rest) {
        if (c <= ' ' || c >= 0x7f || c == '@' || c == '?' || c == '#' || c == '\\' || c == '%') {
            return "the endpoint has a character that is not part of a host, port or path";
        }
    }
    size_t slash = rest.find('/');
    const char *error = authority_error(rest.substr(0, slash));
    if (error != nullptr || slash == std::string::npos) {
        return error;
    }
    return path_error(rest.substr(slash)) ? "the endpoint's base path has a \".\" or \"..\" segment"
                                          : nullptr;
}

} // namespace azure::blob_service
