#pragma once

namespace azure::blob_service
{

// Numbered as the REST layer numbers them; get_http_verb maps them to text.
enum class http_method { del = 0, get = 1, head = 2, post = 3, put = 4, patch = 5 };

} // namespace azure::blob_service
