#pragma once

namespace azure::blob_service::constants
{

inline constexpr const char *user_agent = "ostrel-azure-blob/0.10";
inline constexpr const char *api_version = "2018-11-09";
inline constexpr const char *default_endpoint_suffix = ".core.windows.net";

inline constexpr const char *http_delete = "DELETE";
inline constexpr const char *http_get = "GET";
inline constexpr const char *http_head = "HEAD";
inline constexpr const char *http_post = "POST";
inline constexpr const char *http_put = "PUT";
inline constexpr const char *http_patch = "PATCH";

inline constexpr const char *date_format_rfc_1123 = "%a, %d %b %Y %H:%M:%S GMT";
inline constexpr const char *date_format_iso_8601 = "%Y-%m-%dT%H:%M:%SZ";

} // namespace azure::blob_service::constants
