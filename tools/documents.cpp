/* Where a session's documents come from: the config file, and a credential
 * file or command consulted each time the plug-in asks, so renewals see a
 * fresh token. */
#include "tools/cli.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace ostrel_cli
{

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path + ": " + strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw std::runtime_error("cannot read " + path + ": " + strerror(errno));
    return text.str();
}

std::string run_command(const std::string &command)
{
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error(std::string("cannot run the token command: ") + strerror(errno));
    std::string output;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    int status = pclose(pipe);
    /* the output may hold a token: never repeat it in a message */
    if (status == -1)
        throw std::runtime_error(std::string("token command: ") + strerror(errno));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        throw std::runtime_error("token command exited with status " +
                                 std::to_string(WEXITSTATUS(status)));
    if (WIFSIGNALED(status))
        throw std::runtime_error("token command killed by signal " +
                                 std::to_string(WTERMSIG(status)));
    if (output.find_first_not_of(" \t\r\n") == std::string::npos)
        throw std::runtime_error("token command printed nothing");
    return output;
}

documents::documents(const request &req)
    : creds_file(req.creds_file), token_command(req.token_command)
{
    if (!req.config_file.empty())
        config_text = read_file(req.config_file);
}

std::optional<std::string> documents::get(const std::string &key)
{
    if (key == "config")
        return config_text;
    if (key != "creds" && key != "renew-creds")
        return std::nullopt;
    std::optional<std::string> text;
    if (!creds_file.empty())
        text = read_file(creds_file);
    else if (!token_command.empty())
        text = run_command(token_command);
    std::lock_guard<std::mutex> guard(lock);
    last_creds = text;
    return text;
}

std::optional<std::string> documents::last_credential()
{
    std::lock_guard<std::mutex> guard(lock);
    return last_creds;
}

} // namespace ostrel_cli
