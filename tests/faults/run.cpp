#include "run.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ostrel_faults
{

scratch::scratch()
{
    char dir[] = "/tmp/ostrel-faults-XXXXXX";
    if (!mkdtemp(dir))
        throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
}

scratch::~scratch()
{
    std::string command = "rm -rf '" + dir_ + "'";
    if (system(command.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", dir_.c_str());
}

void scratch::write(const std::string &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

bool scratch::read(const std::string &path, std::string &data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    data = text.str();
    return true;
}

run_result run_program(const std::vector<std::string> &args, int deadline_seconds)
{
    scratch files;
    std::string out = files.path("out"), err = files.path("err");
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0); // a token command it starts dies with it
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char *> argv{const_cast<char *>(OSTREL_CLI)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(OSTREL_CLI, argv.data());
        _exit(127);
    }
    run_result r;
    int status = 0;
    auto deadline = start + std::chrono::seconds(deadline_seconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            r.hung = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!r.hung && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    else if (!r.hung && WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    scratch::read(out, r.out);
    scratch::read(err, r.err);
    return r;
}

} // namespace ostrel_faults
