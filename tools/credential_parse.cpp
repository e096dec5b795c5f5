/* Token documents of other tools, read into the plug-in's credential
 * document. */
#include "tools/credential_parse.h"

#include "blob_service/encoding.h"

#include <ctime>
#include <jansson.h>
#include <memory>
#include <stdexcept>
#include <vector>

namespace ostrel_cli
{

namespace
{

using json_ptr = std::unique_ptr<json_t, void (*)(json_t *)>;

/* The timestamp the plug-in reads has four year digits. */
constexpr int64_t latest_expiry = 253402300799; /* 9999-12-31T23:59:59Z */

json_ptr load(const std::string &text, json_error_t *error)
{
    return json_ptr(json_loadb(text.data(), text.size(), 0, error), json_decref);
}

bool take_digits(const std::string &text, size_t &pos, size_t count, int &value)
{
    value = 0;
    for (size_t end = pos + count; pos < end; pos++) {
        if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
            return false;
        value = value * 10 + (text[pos] - '0');
    }
    return true;
}

bool take_char(const std::string &text, size_t &pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    pos++;
    return true;
}

std::optional<int64_t> within_range(int64_t seconds)
{
    if (seconds < 0 || seconds > latest_expiry)
        return std::nullopt;
    return seconds;
}

/* "expires_on" comes as a number from the command-line tool and as text
 * from managed identity. */
std::optional<int64_t> epoch_member(json_t *value)
{
    if (json_is_integer(value))
        return within_range(json_integer_value(value));
    if (json_is_string(value))
        return parse_epoch_seconds(json_string_value(value));
    return std::nullopt;
}

std::optional<int64_t> expiry_of(json_t *document, const std::string &token)
{
    if (std::optional<int64_t> seconds = epoch_member(json_object_get(document, "expires_on")))
        return seconds;
    /* old versions print "N/A" here for some identities */
    const char *local = json_string_value(json_object_get(document, "expiresOn"));
    if (local != nullptr) {
        if (std::optional<int64_t> seconds = parse_local_time(local))
            return seconds;
    }
    if (std::optional<std::string> exp = jwt_claim(token, "exp"))
        return parse_epoch_seconds(*exp);
    return std::nullopt;
}

credential_result failure(const std::string &text)
{
    return {std::nullopt, text};
}

} // namespace

std::optional<int64_t> parse_local_time(const std::string &text)
{
    size_t pos = 0;
    struct tm when = {};
    int year, month;
    if (!(take_digits(text, pos, 4, year) && take_char(text, pos, '-') &&
          take_digits(text, pos, 2, month) && take_char(text, pos, '-') &&
          take_digits(text, pos, 2, when.tm_mday) && take_char(text, pos, ' ') &&
          take_digits(text, pos, 2, when.tm_hour) && take_char(text, pos, ':') &&
          take_digits(text, pos, 2, when.tm_min) && take_char(text, pos, ':') &&
          take_digits(text, pos, 2, when.tm_sec)))
        return std::nullopt;
    if (take_char(text, pos, '.')) {
        size_t first = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
            pos++;
        if (pos == first)
            return std::nullopt;
    }
    if (pos != text.size() || month < 1 || month > 12 || when.tm_mday < 1 || when.tm_hour > 23 ||
        when.tm_min > 59 || when.tm_sec > 60)
        return std::nullopt;
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_isdst = -1;
    int day = when.tm_mday;
    time_t seconds = mktime(&when);
    /* mktime moves 31 February into March: such a date was never valid */
    if (seconds == (time_t)-1 || when.tm_mday != day || when.tm_mon != month - 1)
        return std::nullopt;
    return within_range((int64_t)seconds);
}

std::optional<int64_t> parse_epoch_seconds(const std::string &text)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    return within_range(std::stoll(text));
}

std::optional<std::string> jwt_claim(const std::string &token, const char *name)
{
    size_t first = token.find('.');
    size_t second = first == std::string::npos ? first : token.find('.', first + 1);
    if (second == std::string::npos)
        return std::nullopt;
    std::string payload = token.substr(first + 1, second - first - 1);
    if (payload.size() % 4 == 1)
        return std::nullopt;
    for (char &c : payload) {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
    }
    payload.append((4 - payload.size() % 4) % 4, '=');
    std::vector<uint8_t> bytes;
    try {
        bytes = azure::blob_service::from_base64(payload);
    } catch (const std::runtime_error &) {
        return std::nullopt;
    }
    json_error_t error;
    json_ptr claims = load(std::string(bytes.begin(), bytes.end()), &error);
    json_t *value = json_object_get(claims.get(), name);
    if (json_is_string(value))
        return std::string(json_string_value(value));
    if (json_is_integer(value))
        return std::to_string(json_integer_value(value));
    return std::nullopt;
}

std::string credential_timestamp(int64_t seconds)
{
    time_t t = (time_t)seconds;
    struct tm utc;
    char text[64] = "";
    if (gmtime_r(&t, &utc) != nullptr)
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000+00:00", &utc);
    return text;
}

credential_result credential_document(const std::string &text)
{
    json_error_t error;
    json_ptr document = load(text, &error);
    if (!document)
        return failure("the credential is not JSON (line " + std::to_string(error.line) +
                       ", column " + std::to_string(error.column) + ")");
    if (!json_is_object(document.get()))
        return failure("the credential is not a JSON object");
    if (json_object_get(document.get(), "token_expiry") != nullptr)
        return {text, ""};

    json_t *token_value = json_object_get(document.get(), "accessToken");
    if (token_value == nullptr)
        token_value = json_object_get(document.get(), "access_token");
    const char *token = json_string_value(token_value);
    if (token == nullptr || *token == '\0')
        return failure("the credential has no access token (\"accessToken\" or "
                       "\"access_token\")");
    std::optional<int64_t> expiry = expiry_of(document.get(), token);
    if (!expiry)
        return failure("the credential has no readable expiry (\"expires_on\", \"expiresOn\" "
                       "or the token's \"exp\" claim)");
    std::string sub = jwt_claim(token, "sub").value_or("unknown");
    json_ptr out(json_pack("{s:s,s:s,s:s}", "access_token", token, "token_expiry",
                           credential_timestamp(*expiry).c_str(), "sub", sub.c_str()),
                 json_decref);
    std::unique_ptr<char, void (*)(void *)> dumped(
        out ? json_dumps(out.get(), JSON_COMPACT | JSON_PRESERVE_ORDER) : nullptr, free);
    if (!dumped)
        return failure("the credential could not be converted (out of memory?)");
    return {std::string(dumped.get()), ""};
}

} // namespace ostrel_cli
