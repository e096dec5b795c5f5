/* The command line: global options, then a command, its options and
 * arguments; and the help texts, made from the same tables. */
#include "tools/cli.h"

#include <cctype>
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
    std::vector<std::string> taken() const { return {args.begin(), args.begin() + (long)pos}; }
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

/* Operands by the words of the table's argument text: PATH and REMOTE are
 * storage paths, anything else (LOCAL, FILE) is local. */
void take_operands(const command_spec &command, std::vector<std::string> positional, request &req)
{
    std::vector<std::string> words;
    for (const char *p = command.arguments; *p != '\0';) {
        const char *end = strchr(p, ' ');
        size_t len = end != nullptr ? (size_t)(end - p) : strlen(p);
        words.emplace_back(p, len);
        p += len + (end != nullptr ? 1 : 0);
    }
    if (words.empty() && !positional.empty())
        throw usage_error(req.command + " takes no arguments");
    if (words.size() == 1 && words[0] == "[PATH]" && positional.empty())
        positional.push_back("/");
    if (positional.size() != words.size()) {
        std::string wanted = command.arguments;
        throw usage_error(req.command + " needs " + (words.size() == 1 ? "exactly one " : "") +
                          (wanted[0] == '[' ? wanted.substr(1, wanted.size() - 2) : wanted));
    }
    for (size_t i = 0; i < words.size(); i++) {
        if (words[i] == "PATH" || words[i] == "[PATH]" || words[i] == "REMOTE")
            req.path = absolute(positional[i]);
        else
            req.local = positional[i];
    }
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
    /* a long head gets a line of its own rather than squeezing the text */
    if (line.size() + 1 >= column) {
        fprintf(out, "%s\n", line.c_str());
        line.clear();
    }
    line.append(column - line.size(), ' ');
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

int64_t parse_byte_count(const std::string &text, const char *option, int64_t minimum,
                         int64_t maximum)
{
    std::string digits = text;
    int shift = 0;
    if (!digits.empty()) {
        switch (digits.back()) {
        case 'K':
        case 'k':
            shift = 10;
            break;
        case 'M':
        case 'm':
            shift = 20;
            break;
        case 'G':
        case 'g':
            shift = 30;
            break;
        }
        if (shift != 0)
            digits.pop_back();
    }
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(digits.c_str(), &end, 10);
    bool fits = errno == 0 && value >= 0 && value <= (INT64_MAX >> shift);
    if (digits.empty() || !isdigit((unsigned char)digits[0]) || *end != '\0' || !fits ||
        (value << shift) < minimum || (value << shift) > maximum) {
        throw usage_error(std::string(option) + " needs a byte count from " +
                          std::to_string(minimum) + " to " + std::to_string(maximum) +
                          " (K, M and G allowed), not \"" + escape_name(text) + "\"");
    }
    return (int64_t)(value << shift);
}

request parse_batch_line(const request &outer, const std::vector<std::string> &words)
{
    if (words.empty() || looks_like_option(words[0]))
        throw usage_error("a batch line starts with a command; options of the whole run go "
                          "before batch");
    if (words[0] == "batch")
        throw usage_error("batch cannot run inside a batch");
    std::vector<std::string> args = {program_name};
    args.insert(args.end(), outer.global_args.begin(), outer.global_args.end());
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    request req = parse_arguments((int)argv.size(), argv.data());
    return req;
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
        {"--streams", "N", "parallel streams of a transfer, 1 to 64 (default 4)",
         [](request &req, const std::string &value) {
             req.streams = (int)parse_whole_number(value, "--streams", 1, ostrel_host::max_streams);
         }},
        {"--block-size", "BYTES",
         "block of a transfer stream; K and M multiply by 1024 and 1024^2 (default 1M, at most "
         "64M)",
         [](request &req, const std::string &value) {
             req.block_size = (size_t)parse_byte_count(value, "--block-size", 1,
                                                       (int64_t)ostrel_host::max_block_size);
         }},
        {"--quiet", nullptr, "no progress line",
         [](request &req, const std::string &) { req.quiet = true; }},
        {"--verbose", nullptr, "a summary line (bytes, seconds, MB/s) after each transfer",
         [](request &req, const std::string &) { req.verbose = true; }},
        help_option,
    };
    return options;
}

request parse_arguments(int argc, char **argv)
{
    request req;
    cursor args(argc, argv);
    parse_global(args, req);
    req.global_args = args.taken();
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
    take_operands(*command, positional, req);
    if (!req.creds_file.empty() && !req.token_command.empty())
        throw usage_error("--creds and --token-command exclude each other");
    if (req.quiet && req.verbose)
        throw usage_error("--quiet and --verbose exclude each other");
    if (command->check != nullptr)
        command->check(req);
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
