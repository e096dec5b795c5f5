#pragma once

#include <ctime>
#include <string>

namespace azure::blob_service
{

enum class date_format { rfc_1123 = 0, iso_8601 = 1 };

// The current UTC time in the given format, with English names whatever the locale.
std::string get_ms_date(date_format format);

// Same for a given instant; throws std::runtime_error for an unknown format.
std::string format_ms_date(time_t when, date_format format);

} // namespace azure::blob_service
