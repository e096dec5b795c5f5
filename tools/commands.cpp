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
               req.offset = parse_whole_number(value, "--offset", 0, INT64_MAX);
           }},
          {"--length", "N", "bytes in the range; -1 (the default) reads to the end",
           [](request &req, const std::string &value) {
               req.length = parse_whole_number(value, "--length", -1, INT64_MAX);
           }}},
         run_cksum},
        {"get",
         "REMOTE LOCAL|-",
         "Download a blob, or a byte range of it, into LOCAL (through LOCAL.part, renamed when "
         "complete) or to standard output (-)",
         {{"--offset", "N", "first byte to download (default 0)",
           [](request &req, const std::string &value) {
               req.offset = parse_whole_number(value, "--offset", 0, INT64_MAX);
           }},
          {"--length", "N", "bytes to download; -1 (the default) runs to the end",
           [](request &req, const std::string &value) {
               req.length = parse_whole_number(value, "--length", -1, INT64_MAX);
           }},
          {"--continue", nullptr, "resume from the end of an existing LOCAL.part",
           [](request &req, const std::string &) { req.resume = true; }}},
         run_get,
         check_get},
        {"put",
         "LOCAL|- REMOTE",
         "Upload a file, or standard input (-) of a --size given, into a blob; REMOTE ending in "
         "/ takes LOCAL's name",
         {{"--mtime", "SECONDS", "modification time to keep (default: the file's)",
           [](request &req, const std::string &value) {
               req.mtime = parse_whole_number(value, "--mtime", 0, 253402300799);
           }},
          {"--no-mtime", nullptr, "keep no modification time",
           [](request &req, const std::string &) { req.no_mtime = true; }},
          {"--size", "BYTES", "length of standard input, required with - (K, M and G allowed)",
           [](request &req, const std::string &value) {
               req.size = parse_byte_count(value, "--size", 0, INT64_MAX);
           }}},
         run_put,
         check_put},
        {"batch",
         "FILE|-",
         "Run the command lines of FILE (or standard input) in one session, in order, stopping "
         "at the first failure; exits with the worst status",
         {{"--keep-going", nullptr, "run the remaining lines after a failure",
           [](request &req, const std::string &) { req.keep_going = true; }}},
         run_batch},
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
