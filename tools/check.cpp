/* check: what a session was started with, without showing the token. */
#include "tools/cli.h"

#include <ctime>
#include <jansson.h>
#include <memory>

namespace ostrel_cli
{

namespace
{

using json_ptr = std::unique_ptr<json_t, void (*)(json_t *)>;

json_ptr parse_json(const std::optional<std::string> &text)
{
    if (!text)
        return json_ptr(nullptr, json_decref);
    json_error_t error;
    return json_ptr(json_loads(text->c_str(), 0, &error), json_decref);
}

std::string member_text(json_t *obj, const char *key)
{
    const char *text = json_string_value(json_object_get(obj, key));
    return text ? text : "";
}

/* The credential timestamp, e.g. 2026-12-06T12:00:00.000000+00:00, as UTC seconds. */
std::optional<int64_t> expiry_seconds(const std::string &text)
{
    struct tm t = {};
    int off_hours = 0, off_minutes = 0;
    int n = sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%*6d%3d:%2d", &t.tm_year, &t.tm_mon,
                   &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec, &off_hours, &off_minutes);
    if (n != 8)
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    int sign = off_hours >= 0 ? 1 : -1;
    t.tm_hour -= off_hours;
    t.tm_min -= sign * off_minutes;
    return (int64_t)timegm(&t);
}

std::string duration_text(int64_t seconds)
{
    if (seconds >= 3600)
        return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) +
               " min";
    if (seconds >= 60)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds) + " s";
}

} // namespace

int run_check(const request &req, ostrel_host::session &session, documents &docs)
{
    (void)session;
    json_ptr config = parse_json(docs.config());
    std::string account_text = member_text(config.get(), "account");
    size_t colon = account_text.find(':');
    std::string account = account_text.substr(0, colon);
    std::string endpoint = colon == std::string::npos ? account + ".blob.core.windows.net (default)"
                                                      : account_text.substr(colon + 1);
    json_t *adls_value = json_object_get(config.get(), "adls");
    bool adls = adls_value == nullptr || json_is_true(adls_value);
    std::string ca_file = member_text(config.get(), "ca_file");

    json_ptr creds = parse_json(docs.last_credential());
    std::string subject = member_text(creds.get(), "sub");
    std::string expiry = member_text(creds.get(), "token_expiry");
    std::optional<int64_t> expires = expiry_seconds(expiry);
    int64_t left = expires ? *expires - (int64_t)time(nullptr) : 0;

    if (req.json) {
        json_ptr out(json_object(), json_decref);
        json_object_set_new(out.get(), "account", json_string(account.c_str()));
        json_object_set_new(out.get(), "endpoint", json_string(endpoint.c_str()));
        json_object_set_new(out.get(), "adls", json_boolean(adls));
        if (!ca_file.empty())
            json_object_set_new(out.get(), "ca_file", json_string(ca_file.c_str()));
        json_object_set_new(out.get(), "subject", json_string(subject.c_str()));
        json_object_set_new(out.get(), "token_expiry", json_string(expiry.c_str()));
        json_object_set_new(out.get(), "token_seconds_left",
                            expires ? json_integer(left) : json_null());
        std::unique_ptr<char, void (*)(void *)> text(
            json_dumps(out.get(), JSON_COMPACT | JSON_PRESERVE_ORDER), free);
        printf("%s\n", text ? text.get() : "{}");
        return 0;
    }
    printf("account:       %s\n", account.empty() ? "(none)" : account.c_str());
    printf("endpoint:      %s\n", account.empty() ? "(none)" : endpoint.c_str());
    printf("adls:          %s\n", adls ? "true" : "false");
    if (!ca_file.empty())
        printf("ca file:       %s\n", ca_file.c_str());
    printf("subject:       %s\n", subject.empty() ? "(none)" : subject.c_str());
    if (!expires)
        printf("token expires: %s\n", expiry.empty() ? "(no token)" : expiry.c_str());
    else if (left > 0)
        printf("token expires: %s (in %s)\n", expiry.c_str(), duration_text(left).c_str());
    else
        printf("token expires: %s (expired %s ago)\n", expiry.c_str(),
               duration_text(-left).c_str());
    printf("session:       started and ended\n");
    return 0;
}

} // namespace ostrel_cli
