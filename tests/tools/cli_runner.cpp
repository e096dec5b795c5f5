#include "tests/tools/cli_runner.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel_cli_test
{

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

temp_file::temp_file(const std::string &content)
{
    char path[] = "/tmp/ostrel-cli-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    close(fd);
    path_ = path;
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
}

temp_file::~temp_file()
{
    unlink(path_.c_str());
}

pid_t start_cli(const std::vector<std::string> &args, const env_changes &env,
                const std::string &input, const std::string &out, const std::string &err)
{
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_TRUNC);
        int e = open(err.c_str(), O_WRONLY | O_TRUNC);
        int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        if (o < 0 || e < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        for (const auto &change : env) {
            if (change.second)
                setenv(change.first.c_str(), change.second->c_str(), 1);
            else
                unsetenv(change.first.c_str());
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(OSTREL_CLI));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(OSTREL_CLI, argv.data());
        _exit(127);
    }
    return pid;
}

run_result run_cli(const std::vector<std::string> &args, const env_changes &env,
                   const std::string &input)
{
    temp_file out(""), err("");
    pid_t pid = start_cli(args, env, input, out.path(), err.path());
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        throw std::runtime_error("waitpid failed");
    run_result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(out.path());
    result.err = slurp(err.path());
    return result;
}

std::string unreachable_config()
{
    return "{\"account\": \"devstoreaccount1:127.0.0.1:9/devstoreaccount1\", "
           "\"retry_max_delay_ms\": 10}";
}

} // namespace ostrel_cli_test
