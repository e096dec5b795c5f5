/* The command line: global options, then a command and its arguments. */
#include "tools/cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ostrel_cli
{

const char *const program_name = "ostrel-azure";
const char *const module_name = "ostrel_gridftp_server_azure_blob";
const char *const dsi_name = "azure_blob";

namespace
{

struct command_help {
    const char *name;
    const char *synopsis;
    const char *summary;
};

const command_help commands[] = {
    {"check", "check", "start a session and show account, endpoint and token expiry"},
    {"stat", "stat [--json] PATH", "show one file or directory"},
    {"ls", "ls [-l] [--json] [PATH]", "list a directory, a container or all containers"},
    {"mkdir", "mkdir PATH", "create a container or a directory"},
    {"rmdir", "rmdir PATH", "remove an empty directory or a container"},
    {"rm", "rm PATH", "delete a blob"},
    {"cksum", "cksum [--offset N] [--length N] PATH", "print the MD5 of a blob or a range"},
};

bool known_command(const std::string &name)
{
    for (const command_help &c : commands) {
        if (name == c.name)
            return true;
    }
    return false;
}

/* One argument list with "--name value" and "--name=value" forms. */
class cursor
{
  public:
    cursor(int argc, char **argv) : args(argv + 1, argv + argc) {}
    bool done() const { return pos >= args.size(); }
    const std::string &peek() const { return args[pos]; }
    std::string next() { return args[pos++]; }

    /* If the current argument is option name, consumes it and its value. */
    bool take_value(const char *name, std::string *value)
    {
        const std::string &arg = args[pos];
        size_t len = strlen(name);
        if (arg.compare(0, len, name) != 0)
            return false;
        if (arg.size() > len && arg[len] == '=') {
            *value = arg.substr(len + 1);
            pos++;
            return true;
        }
        if (arg.size() != len)
            return false;
        if (pos + 1 >= args.size())
            throw usage_error(std::string("option ") + name + " needs a value");
        *value = args[pos + 1];
        pos += 2;
        return true;
    }

  private:
    std::vector<std::string> args;
    size_t pos = 0;
};

int64_t parse_int64(const std::string &text, const char *option, int64_t minimum)
{
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < minimum) {
        throw usage_error(std::string(option) + " needs a whole number of at least " +
                          std::to_string(minimum) + ", not \"" + text + "\"");
    }
    return value;
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
        std::string value;
        if (arg == "--help" || arg == "-h") {
            req.help = true;
            args.next();
        } else if (arg == "--json") {
            req.json = true;
            args.next();
        } else if (args.take_value("--config", &value)) {
            req.config_file = value;
        } else if (args.take_value("--creds", &value)) {
            req.creds_file = value;
        } else if (args.take_value("--token-command", &value)) {
            req.token_command = value;
        } else if (args.take_value("--debug", &value)) {
            req.debug = value;
        } else if (args.take_value("--update-interval", &value)) {
            req.update_interval = (int)parse_int64(value, "--update-interval", 0);
        } else if (arg == "--") {
            args.next();
            return;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw usage_error("unknown option " + arg);
        } else {
            return;
        }
    }
}

void parse_command(cursor &args, request &req)
{
    std::vector<std::string> positional;
    bool only_positional = false;
    while (!args.done()) {
        const std::string &arg = args.peek();
        std::string value;
        if (only_positional || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(args.next());
        } else if (arg == "--") {
            only_positional = true;
            args.next();
        } else if (arg == "--json" &&
                   (req.command == "stat" || req.command == "ls" || req.command == "check")) {
            req.json = true;
            args.next();
        } else if (arg == "-l" && req.command == "ls") {
            req.long_format = true;
            args.next();
        } else if (req.command == "cksum" && args.take_value("--offset", &value)) {
            req.cksm_offset = parse_int64(value, "--offset", 0);
        } else if (req.command == "cksum" && args.take_value("--length", &value)) {
            req.cksm_length = parse_int64(value, "--length", -1);
        } else {
            throw usage_error("unknown option " + arg + " for " + req.command);
        }
    }
    if (req.command == "check") {
        if (!positional.empty())
            throw usage_error("check takes no arguments");
        return;
    }
    if (req.command == "ls" && positional.empty())
        positional.push_back("/");
    if (positional.size() != 1)
        throw usage_error(req.command + " needs exactly one PATH");
    req.path = absolute(positional[0]);
}

} // namespace

request parse_arguments(int argc, char **argv)
{
    request req;
    cursor args(argc, argv);
    parse_global(args, req);
    if (req.help)
        return req;
    if (args.done())
        throw usage_error("no command given");
    req.command = args.next();
    if (req.command == "help") {
        req.help = true;
        return req;
    }
    if (!known_command(req.command))
        throw usage_error("unknown command \"" + req.command + "\"");
    parse_command(args, req);
    if (!req.creds_file.empty() && !req.token_command.empty())
        throw usage_error("--creds and --token-command exclude each other");
    return req;
}

const char *usage_line()
{
    return "usage: ostrel-azure [--config FILE] [--creds FILE | --token-command CMD] "
           "[--debug LEVELS] [--update-interval SECONDS] [--json] COMMAND ARGS...";
}

void print_help(FILE *out)
{
    fprintf(out, "%s\n\n", usage_line());
    fprintf(out, "Runs one operation through the Azure Blob storage plug-in, loaded as a "
                 "GridFTP server loads it.\n\nCommands:\n");
    for (const command_help &c : commands)
        fprintf(out, "  %-38s %s\n", c.synopsis, c.summary);
    fprintf(out,
            "\nOptions:\n"
            "  --config FILE          configuration document {\"account\": ..., \"adls\": ...}\n"
            "  --creds FILE           credential document {\"access_token\", \"token_expiry\", "
            "\"sub\"}, read whenever the plug-in asks\n"
            "  --token-command CMD    run CMD with /bin/sh -c whenever the plug-in asks for a "
            "credential; its output is the document\n"
            "  --debug LEVELS         set OSTREL_AZURE_DEBUG (see host/README.md), e.g. "
            "ERROR|WARNING or ALL,trace.log\n"
            "  --update-interval S    seconds between checksum progress reports\n"
            "  --json                 JSON Lines output for stat and ls, a JSON object for "
            "check\n"
            "\nExit status: 0 success, 1 the operation failed, 2 usage error.\n");
}

} // namespace ostrel_cli
