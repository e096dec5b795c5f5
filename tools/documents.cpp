/* Where a session's documents come from: the configuration file, and a
 * credential file or command consulted each time the plug-in asks, so
 * renewals see a fresh token. */
#include "tools/cli.h"
#include "tools/credential_parse.h"

#include <cerrno>
#include <sys/stat.h>

namespace ostrel_cli
{

namespace
{

bool is_set(const char *value)
{
    return value != nullptr && *value != '\0';
}

const char *const config_suffix = "/ostrel-azure/config.json";

std::string read_config(const config_choice &config)
{
    if (config.path.empty())
        throw std::runtime_error("no configuration: give --config FILE or set "
                                 "OSTREL_AZURE_CONFIG (HOME is not known)");
    struct stat info;
    if (!config.named_by_user && stat(config.path.c_str(), &info) != 0 && errno == ENOENT)
        throw std::runtime_error("no configuration: give --config FILE, set "
                                 "OSTREL_AZURE_CONFIG, or write " +
                                 escape_name(config.path));
    return read_document_file(config.path);
}

} // namespace

config_choice config_location(const std::string &option, const char *env_config,
                              const char *xdg_config_home, const char *home)
{
    if (!option.empty())
        return {option, true};
    if (is_set(env_config))
        return {env_config, true};
    /* XDG base directories must be absolute: a relative XDG_CONFIG_HOME is ignored */
    if (is_set(xdg_config_home) && xdg_config_home[0] == '/')
        return {std::string(xdg_config_home) + config_suffix, false};
    if (is_set(home))
        return {std::string(home) + "/.config" + config_suffix, false};
    return {"", false};
}

documents::documents(const request &req, const config_choice &config)
    : config_file(config.path), config_text(read_config(config)), creds_file(req.creds_file),
      token_command(req.token_command), token_timeout(req.token_timeout)
{
}

std::optional<std::string> documents::get(const std::string &key)
{
    if (key == "config")
        return config_text;
    if (key != "creds" && key != "renew-creds")
        return std::nullopt;
    std::string text;
    std::string source;
    if (!creds_file.empty()) {
        text = read_document_file(creds_file);
        source = escape_name(creds_file);
    } else if (!token_command.empty()) {
        text = run_token_command(token_command, token_timeout);
        source = "the token command's output";
    } else {
        return std::nullopt;
    }
    credential_result converted = credential_document(text);
    if (!converted.document)
        throw std::runtime_error(source + ": " + converted.error);
    std::lock_guard<std::mutex> guard(lock);
    last_creds = converted.document;
    return converted.document;
}

std::optional<std::string> documents::last_credential()
{
    std::lock_guard<std::mutex> guard(lock);
    return last_creds;
}

} // namespace ostrel_cli
