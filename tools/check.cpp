/* check: what a session was started with, and one cheap request that shows
 * whether the service can be reached and accepts the token. The token itself
 * is never shown. */
#include "tools/cli.h"

#include "connector/token_time.h"

#include <ctime>
#include <memory>

namespace ostrel_cli
{

namespace
{

/* A valid container name nobody is likely to use: "not found" and "found"
 * both prove the service answered and accepted the token. */
const char *const probe_path = "/ostrel-azure-check-probe";

using json_ptr = std::unique_ptr<json_t, void (*)(json_t *)>;

json_ptr parse_json(const std::optional<std::string> &text)
{
    json_error_t error;
    return json_ptr(text ? json_loads(text->c_str(), 0, &error) : nullptr, json_decref);
}

std::string member_text(json_t *obj, const char *key)
{
    const char *text = json_string_value(json_object_get(obj, key));
    return text ? text : "";
}

struct session_facts {
    std::string account;
    std::string endpoint;
    bool adls = true;
    std::string ca_file;
    std::string subject;
    std::string expiry;
    std::optional<int64_t> seconds_left;
};

session_facts gather(documents &docs)
{
    session_facts facts;
    json_ptr config = parse_json(docs.config());
    std::string account_text = member_text(config.get(), "account");
    size_t colon = account_text.find(':');
    facts.account = account_text.substr(0, colon);
    facts.endpoint = colon == std::string::npos ? facts.account + ".blob.core.windows.net (default)"
                                                : account_text.substr(colon + 1);
    json_t *adls_value = json_object_get(config.get(), "adls");
    facts.adls = adls_value == nullptr || json_is_true(adls_value);
    facts.ca_file = member_text(config.get(), "ca_file");

    json_ptr creds = parse_json(docs.last_credential());
    facts.subject = member_text(creds.get(), "sub");
    facts.expiry = member_text(creds.get(), "token_expiry");
    time_t expires;
    /* read as the plug-in reads it */
    if (ostrel_i_azure_token_time(facts.expiry.c_str(), &expires))
        facts.seconds_left = (int64_t)expires - (int64_t)time(nullptr);
    return facts;
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

std::string expiry_text(const session_facts &facts)
{
    if (facts.expiry.empty())
        return "(no token)";
    std::string text = escape_name(facts.expiry);
    if (!facts.seconds_left)
        return text;
    int64_t left = *facts.seconds_left;
    return text + (left > 0 ? " (in " + duration_text(left) + ")"
                            : " (expired " + duration_text(-left) + " ago)");
}

const char *outcome_name(probe_outcome outcome)
{
    switch (outcome) {
    case probe_outcome::answered:
        return "answered";
    case probe_outcome::unreachable:
        return "unreachable";
    case probe_outcome::certificate:
        return "certificate";
    case probe_outcome::token_refused:
        return "token refused";
    default:
        return "failed";
    }
}

std::string outcome_text(probe_outcome outcome, const session_facts &facts)
{
    std::string endpoint = escape_name(facts.endpoint);
    switch (outcome) {
    case probe_outcome::answered:
        return "answered at " + endpoint + " and accepted the token";
    case probe_outcome::unreachable:
        return "cannot reach the service at " + endpoint;
    case probe_outcome::certificate:
        return "the service's certificate was not accepted (trusted authorities: " +
               (facts.ca_file.empty() ? std::string("the system's") : escape_name(facts.ca_file)) +
               ")";
    case probe_outcome::token_refused:
        return facts.seconds_left && *facts.seconds_left <= 0
                   ? "the access token expired at " + escape_name(facts.expiry)
                   : std::string("the service refused the access token");
    default:
        return "the service answered with an error";
    }
}

void print_json(const session_facts &facts, const std::string &config_path, probe_outcome outcome)
{
    json_ptr out(json_object(), json_decref);
    json_object_set_new(out.get(), "config_file", json_string(config_path.c_str()));
    json_object_set_new(out.get(), "account", json_string(facts.account.c_str()));
    json_object_set_new(out.get(), "endpoint", json_string(facts.endpoint.c_str()));
    json_object_set_new(out.get(), "adls", json_boolean(facts.adls));
    if (!facts.ca_file.empty())
        json_object_set_new(out.get(), "ca_file", json_string(facts.ca_file.c_str()));
    json_object_set_new(out.get(), "subject", json_string(facts.subject.c_str()));
    json_object_set_new(out.get(), "token_expiry", json_string(facts.expiry.c_str()));
    json_object_set_new(out.get(), "token_seconds_left",
                        facts.seconds_left ? json_integer(*facts.seconds_left) : json_null());
    json_object_set_new(out.get(), "service", json_string(outcome_name(outcome)));
    printf("%s\n", json_text(out.get()).c_str());
}

void print_text(const session_facts &facts, const std::string &config_path, probe_outcome outcome)
{
    auto line = [](const char *label, const std::string &value) {
        printf("%-15s%s\n", label, value.empty() ? "(none)" : escape_name(value).c_str());
    };
    line("config:", config_path);
    line("account:", facts.account);
    line("endpoint:", facts.account.empty() ? "" : facts.endpoint);
    line("adls:", facts.adls ? "true" : "false");
    if (!facts.ca_file.empty())
        line("ca file:", facts.ca_file);
    line("subject:", facts.subject);
    printf("%-15s%s\n", "token expires:", expiry_text(facts).c_str());
    if (outcome == probe_outcome::answered)
        printf("%-15s%s\n", "service:", outcome_text(outcome, facts).c_str());
}

/* The number the plug-in puts after the quoted path: an HTTP status, or
 * libcurl's code when no answer came. */
std::optional<long> failure_code(const std::string &text, const std::string &path)
{
    std::string marker = "\"" + path + "\": ";
    size_t at = text.find(marker);
    if (at == std::string::npos)
        return std::nullopt;
    const char *start = text.c_str() + at + marker.size();
    char *end = nullptr;
    long code = strtol(start, &end, 10);
    return end != start ? std::optional<long>(code) : std::nullopt;
}

bool mentions(const std::string &text, std::initializer_list<const char *> words)
{
    for (const char *word : words) {
        if (text.find(word) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

probe_outcome classify_probe(const ostrel_host::error_info &error, const std::string &path)
{
    if (error.ok || (error.reply_code == 550 && error.response_error_code == "PATH_NOT_FOUND"))
        return probe_outcome::answered;
    if (error.response_error_code == "LOGIN_DENIED" ||
        error.response_error_code == "PERMISSION_DENIED")
        return probe_outcome::token_refused;
    std::optional<long> code = failure_code(error.text, path);
    if (code == 401 || code == 403)
        return probe_outcome::token_refused;
    /* libcurl: resolve, connect, timeout, empty reply, send and receive */
    for (long c : {5, 6, 7, 28, 52, 55, 56}) {
        if (code == c)
            return probe_outcome::unreachable;
    }
    /* libcurl: TLS handshake, peer certificate, CA file, pinning, CRL */
    for (long c : {35, 51, 53, 54, 58, 59, 60, 64, 66, 77, 80, 82, 83, 90, 91}) {
        if (code == c)
            return probe_outcome::certificate;
    }
    if (mentions(error.text, {"NameLookupError", "FailedToConnect", "ConnectionFailed"}))
        return probe_outcome::unreachable;
    if (mentions(error.text, {"ServerFailedVerification", "certificate", "SSL"}))
        return probe_outcome::certificate;
    if (mentions(error.text, {"access token", "AuthenticationFailed", "InvalidToken",
                              "ExpiredToken", "AuthorizationFailure"}))
        return probe_outcome::token_refused;
    return probe_outcome::failed;
}

int run_check(const request &req, ostrel_host::session &session, documents &docs)
{
    ostrel_host::stat_result probe = session.stat(probe_path, true);
    probe_outcome outcome = classify_probe(probe.error, probe_path);
    session_facts facts = gather(docs);
    if (req.json)
        print_json(facts, docs.config_path(), outcome);
    else
        print_text(facts, docs.config_path(), outcome);
    fflush(stdout);
    if (outcome == probe_outcome::answered)
        return 0;
    fprintf(stderr, "%s: check: %s\n%s", program_name, outcome_text(outcome, facts).c_str(),
            error_detail(probe.error, probe_path).c_str());
    return 1;
}

} // namespace ostrel_cli
