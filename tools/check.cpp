/* check: what a session was started with, without showing the token. */
#include "tools/cli.h"

#include "connector/token_time.h"

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

/* The credential timestamp as UTC seconds, read as the plug-in reads it. */
std::optional<int64_t> expiry_seconds(const std::string &text)
{
    time_t seconds;
    if (!ostrel_i_azure_token_time(text.c_str(), &seconds))
        return std::nullopt;
    return (int64_t)seconds;
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
