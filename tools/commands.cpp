/* The table of commands: names, arguments, help and the function that runs
 * each. A new command is one row here and its family's file. */
#include "tools/cli.h"

namespace ostrel_cli
{

namespace
{

const option_spec json_option = {"--json", nullptr, "JSON output",
                                 [](request &req, const std::string &) { req.json = true; }};

} // namespace

const std::vector<command_spec> &command_table()
{
    static const std::vector<command_spec> table = {
        {"check",
         "",
         "Show the configuration and the token's expiry (never the token), and ask "
         "the service whether it accepts the token",
         {json_option},
         run_check},
        {"stat", "PATH", "Show one file or directory", {json_option}, run_stat},
        {"ls",
         "[PATH]",
         "List a directory, a container or all containers; a file lists itself",
         {{"-l", nullptr, "long format, as ls -l",
           [](request &req, const std::string &) { req.long_format = true; }},
          json_option},
         run_ls},
        {"mkdir",
         "PATH",
         "Create a container (/name) or a directory (/name/dir)",
         {},
         run_path_command},
        {"rmdir",
         "PATH",
         "Remove an empty directory, or a container when OSTREL_AZURE_DELETE_CONTAINERS is set",
         {},
         run_path_command},
        {"rm", "PATH", "Delete a blob", {}, run_path_command},
        {"cksum",
         "PATH",
         "Print the MD5 of a blob or of a byte range as 32 hexadecimal digits",
         {{"--offset", "N", "first byte of the range (default 0)",
           [](request &req, const std::string &value) {
               req.cksm_offset = parse_whole_number(value, "--offset", 0, INT64_MAX);
           }},
          {"--length", "N", "bytes in the range; -1 (the default) reads to the end",
           [](request &req, const std::string &value) {
               req.cksm_length = parse_whole_number(value, "--length", -1, INT64_MAX);
           }}},
         run_cksum},
    };
    return table;
}

const command_spec *find_command(const std::string &name)
{
    for (const command_spec &command : command_table()) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

} // namespace ostrel_cli
