/* The command line: global options, then a command, its options and
 * arguments; and the help texts, made from the same tables. */
#include "tools/cli.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace ostrel_cli
{

const char *const program_name = "ostrel-azure";
const char *const module_name = "ostrel_gridftp_server_azure_blob";
const char *const dsi_name = "azure_blob";

namespace
{

const option_spec help_option = {"--help", nullptr, "show this help and exit",
                                 [](request &req, const std::string &) { req.help = true; }};

bool is_help(const std::string &arg)
{
    return arg == "--help" || arg == "-h";
}

/* One argument list with "--name value" and "--name=value" forms. */
class cursor
{
  public:
    cursor(int argc, char **argv) : args(argv + 1, argv + argc) {}
    bool done() const { return pos >= args.size(); }
    const std::string &peek() const { return args[pos]; }
    std::string next() { return args[pos++]; }

    /* If the current argument is the option, consumes it (and its value)
     * and applies it. */
    bool take(const option_spec &option, request &req)
    {
        const std::string &arg = args[pos];
        size_t len = strlen(option.name);
        if (arg.compare(0, len, option.name) != 0)
            return false;
        if (option.value_name == nullptr) {
            if (arg.size() != len)
                return false;
            pos++;
            option.apply(req, "");
            return true;
        }
        std::string value;
        if (arg.size() > len && arg[len] == '=') {
            value = arg.substr(len + 1);
            pos++;
        } else if (arg.size() == len) {
            if (pos + 1 >= args.size())
                throw usage_error(std::string("option ") + option.name + " needs a value");
            value = args[pos + 1];
            pos += 2;
        } else {
            return false;
        }
        option.apply(req, value);
        return true;
    }

    bool take_any(const std::vector<option_spec> &options, request &req)
    {
        for (const option_spec &option : options) {
            if (take(option, req))
                return true;
        }
        return false;
    }

  private:
    std::vector<std::string> args;
    size_t pos = 0;
};

bool looks_like_option(const std::string &arg)
{
    return arg.size() > 1 && arg[0] == '-';
}

/* Paths are absolute in the storage namespace; "photos/x" means "/photos/x". */
std::string absolute(const std::string &path)
{
    return path.empty() || path[0] != '/' ? "/" + path : path;
}

void parse_global(cursor &args, request &req)
{
    while (!args.done()) {
        const std::string &arg = args.peek();
        if (is_help(arg)) {
            req.help = true;
            args.next();
        } else if (args.take_any(global_options(), req)) {
            continue;
        } else if (arg == "--") {
            args.next();
            return;
        } else if (looks_like_option(arg)) {
            throw usage_error("unknown option " + escape_name(arg));
        } else {
            return;
        }
    }
}

std::vector<std::string> parse_command(cursor &args, const command_spec &command, request &req)
{
    std::vector<std::string> positional;
    bool only_positional = false;
    while (!args.done()) {
        const std::string &arg = args.peek();
        if (only_positional || !looks_like_option(arg)) {
            positional.push_back(args.next());
        } else if (arg == "--") {
            only_positional = true;
            args.next();
        } else if (is_help(arg)) {
            req.help = true;
            args.next();
        } else if (!args.take_any(command.options, req)) {
            throw usage_error("unknown option " + escape_name(arg) + " for " + command.name);
        }
    }
    return positional;
}

void take_path(const command_spec &command, std::vector<std::string> positional, request &req)
{
    std::string arguments = command.arguments;
    if (arguments.empty()) {
        if (!positional.empty())
            throw usage_error(req.command + " takes no arguments");
        return;
    }
    if (arguments == "[PATH]" && positional.empty())
        positional.push_back("/");
    if (positional.size() != 1)
        throw usage_error(req.command + " needs exactly one PATH");
    req.path = absolute(positional[0]);
}

std::string synopsis(const command_spec &command)
{
    std::string text = command.name;
    for (const option_spec &option : command.options) {
        text += std::string(" [") + option.name;
        if (option.value_name != nullptr)
            text += std::string(" ") + option.value_name;
        text += "]";
    }
    if (*command.arguments != '\0')
        text += std::string(" ") + command.arguments;
    return text;
}

/* "  head  text" with text wrapped at 79 columns under itself. */
void print_row(FILE *out, const std::string &head, const std::string &text, size_t column)
{
    std::string line = "  " + head;
    line.append(line.size() + 1 < column ? column - line.size() : 1, ' ');
    size_t start = 0;
    while (start < text.size()) {
        size_t room = 79 > line.size() ? 79 - line.size() : 20;
        size_t end = text.size();
        if (end - start > room) {
            end = text.rfind(' ', start + room);
            if (end == std::string::npos || end <= start)
                end = text.find(' ', start + room);
            if (end == std::string::npos)
                end = text.size();
        }
        fprintf(out, "%s%s\n", line.c_str(), text.substr(start, end - start).c_str());
        line.assign(column, ' ');
        start = end < text.size() ? end + 1 : end;
    }
}

void print_options(FILE *out, const std::vector<option_spec> &options)
{
    for (const option_spec &option : options) {
        std::string head = option.name;
        if (option.value_name != nullptr)
            head += std::string(" ") + option.value_name;
        print_row(out, head, option.help, 30);
    }
}

} // namespace

int64_t parse_whole_number(const std::string &text, const char *option, int64_t minimum,
                           int64_t maximum)
{
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < minimum || value > maximum) {
        throw usage_error(std::string(option) + " needs a whole number from " +
                          std::to_string(minimum) + " to " + std::to_string(maximum) + ", not \"" +
                          escape_name(text) + "\"");
    }
    return value;
}

const std::vector<option_spec> &global_options()
{
    static const std::vector<option_spec> options = {
        {"--config", "FILE",
         "configuration document; default $OSTREL_AZURE_CONFIG, else "
         "$XDG_CONFIG_HOME/ostrel-azure/config.json or ~/.config/ostrel-azure/config.json",
         [](request &req, const std::string &value) { req.config_file = value; }},
        {"--creds", "FILE",
         "credential file, read whenever the plug-in asks for a token: the credential "
         "document, `az account get-access-token` output or a managed-identity answer",
         [](request &req, const std::string &value) { req.creds_file = value; }},
        {"--token-command", "CMD",
         "run CMD with /bin/sh -c whenever the plug-in asks for a token; it prints what "
         "--creds would hold",
         [](request &req, const std::string &value) { req.token_command = value; }},
        {"--token-timeout", "SECONDS",
         "stop the token command (and its children) after SECONDS (default 60)",
         [](request &req, const std::string &value) {
             req.token_timeout = (int)parse_whole_number(value, "--token-timeout", 1, 86400);
         }},
        {"--debug", "LEVELS", "set OSTREL_AZURE_DEBUG, e.g. ERROR|WARNING or ALL,trace.log",
         [](request &req, const std::string &value) { req.debug = value; }},
        {"--update-interval", "SECONDS",
         "seconds between checksum progress reports (default 2 on a terminal, else none)",
         [](request &req, const std::string &value) {
             req.update_interval =
                 (int)parse_whole_number(value, "--update-interval", 0, INT_MAX / 1000);
         }},
        {"--json", nullptr, "JSON output (stat, ls and check)",
         [](request &req, const std::string &) { req.json = true; }},
        help_option,
    };
    return options;
}

request parse_arguments(int argc, char **argv)
{
    request req;
    cursor args(argc, argv);
    parse_global(args, req);
    if (args.done()) {
        if (req.help)
            return req;
        throw usage_error("no command given");
    }
    req.command = args.next();
    if (req.command == "help") {
        req.help = true;
        req.command = args.done() ? "" : args.next();
    }
    const command_spec *command = find_command(req.command);
    if (command == nullptr && !req.command.empty())
        throw usage_error("unknown command \"" + escape_name(req.command) + "\"");
    if (command == nullptr || req.help)
        return req;
    std::vector<std::string> positional = parse_command(args, *command, req);
    if (req.help)
        return req;
    take_path(*command, positional, req);
    if (!req.creds_file.empty() && !req.token_command.empty())
        throw usage_error("--creds and --token-command exclude each other");
    return req;
}

const char *usage_line()
{
    return "usage: ostrel-azure [OPTIONS] COMMAND [COMMAND OPTIONS] ARGS...";
}

void print_help(FILE *out, const command_spec *command)
{
    if (command != nullptr) {
        fprintf(out, "usage: %s [OPTIONS] %s\n\n%s.\n\nOptions of %s:\n", program_name,
                synopsis(*command).c_str(), command->summary, command->name);
        std::vector<option_spec> options = command->options;
        options.push_back(help_option);
        print_options(out, options);
        fprintf(out, "\nOPTIONS (before %s):\n", command->name);
        print_options(out, global_options());
        return;
    }
    fprintf(out, "%s\n\n", usage_line());
    fprintf(out, "Runs one operation through the Azure Blob storage plug-in, loaded as a\n"
                 "GridFTP server loads it.\n\nCommands:\n");
    for (const command_spec &c : command_table())
        print_row(out, synopsis(c), c.summary, 40);
    fprintf(out, "\nOPTIONS:\n");
    print_options(out, global_options());
    fprintf(out,
            "\n'%s COMMAND --help' describes a command's options.\n"
            "Exit status: 0 success, 1 the operation failed, 2 usage error.\n",
            program_name);
}

} // namespace ostrel_cli
