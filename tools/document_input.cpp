/* Reading a document from a file or from a token command, bounded in size
 * and, for the command, in time. Nothing read is ever quoted in a message:
 * it may hold a token. */
#include "tools/cli.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace ostrel_cli
{

namespace
{

std::string size_text(size_t bytes)
{
    return std::to_string(bytes >> 20) + " MiB";
}

/* Appends what one read() gives; false at end of input. */
bool read_some(int fd, std::string &out, const std::string &what)
{
    char buf[65536];
    ssize_t n;
    do {
        n = read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        throw std::runtime_error("cannot read " + what + ": " + strerror(errno));
    out.append(buf, (size_t)n);
    return n > 0;
}

/* Token commands run in groups of their own, which the terminal's signals
 * do not reach; a program stopped while one runs stops the groups itself.
 * A slot holds a group id from just after its start until just before its
 * reaping, so a recycled id is never hit. A signal that comes while a
 * command is being started and not yet in a slot is left to the starting
 * thread to finish. */
std::atomic<pid_t> running_groups[8];
std::atomic<int> starting{0};
std::atomic<int> stop_signal{0};

void die_of(int sig)
{
    signal(sig, SIG_DFL);
    /* the signal watcher's thread has it blocked */
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
}

void stop_running_groups(int sig)
{
    stop_signal.store(sig);
    for (std::atomic<pid_t> &group : running_groups) {
        pid_t pid = group.load();
        if (pid > 0)
            kill(-pid, SIGKILL);
    }
    if (starting.load() == 0)
        die_of(sig);
}

void install_stop_handlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction action = {};
            /* an ignored signal stays ignored */
            if (sigaction(sig, nullptr, &action) != 0 || action.sa_handler != SIG_DFL)
                continue;
            action.sa_handler = stop_running_groups;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
        }
    });
}

class token_process
{
  public:
    token_process(const std::string &command, int output_fd)
    {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attr;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
        /* a prompt would wait for the timeout: the command has no terminal input */
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        /* its own group, so a timeout stops what it started too */
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setpgroup(&attr, 0);
        /* our threads block the stop signals for the watcher; the command must not */
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETSIGMASK);
        char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                        const_cast<char *>(command.c_str()), nullptr};
        starting++;
        int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (rc == 0)
            take_slot();
        starting--;
        if (int sig = stop_signal.load()) {
            if (rc == 0)
                kill(-pid, SIGKILL);
            die_of(sig);
        }
        if (rc != 0)
            throw std::runtime_error(std::string("cannot run the token command: ") + strerror(rc));
    }

    ~token_process()
    {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            wait();
        }
    }

    /* Ends the whole group; wait() then reaps the shell. */
    void stop() { kill(-pid, SIGKILL); }

    int wait()
    {
        if (slot != nullptr)
            slot->store(0);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
            ;
        pid = -1;
        return status;
    }

    token_process(const token_process &) = delete;
    token_process &operator=(const token_process &) = delete;

  private:
    void take_slot()
    {
        for (std::atomic<pid_t> &group : running_groups) {
            pid_t free_slot = 0;
            if (group.compare_exchange_strong(free_slot, pid)) {
                slot = &group;
                return;
            }
        }
    }

    pid_t pid = -1;
    std::atomic<pid_t> *slot = nullptr;
};

void check_exit(int status)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        throw std::runtime_error("token command exited with status " +
                                 std::to_string(WEXITSTATUS(status)));
    if (WIFSIGNALED(status))
        throw std::runtime_error("token command killed by signal " +
                                 std::to_string(WTERMSIG(status)));
}

} // namespace

fd_guard::~fd_guard()
{
    if (fd >= 0)
        close(fd);
}

void stop_token_commands(int sig)
{
    stop_running_groups(sig);
}

std::string read_document_file(const std::string &path)
{
    std::string what = escape_name(path);
    fd_guard file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        throw std::runtime_error("cannot read " + what + ": " + strerror(errno));
    std::string text;
    while (read_some(file.fd, text, what)) {
        if (text.size() > document_limit)
            throw std::runtime_error(what + " is larger than " + size_text(document_limit) +
                                     ", too large for a document");
    }
    return text;
}

std::string run_token_command(const std::string &command, int timeout_seconds)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("cannot run the token command: ") + strerror(errno));
    fd_guard output{fds[0]};
    fd_guard input{fds[1]};
    install_stop_handlers();
    token_process process(command, input.fd);
    close(input.fd);
    input.fd = -1;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    std::string text;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        struct pollfd ready = {output.fd, POLLIN, 0};
        int n = left.count() > 0 ? poll(&ready, 1, (int)left.count() + 1) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error(std::string("token command: poll: ") + strerror(errno));
        if (n == 0) {
            process.stop();
            throw std::runtime_error("token command did not finish within " +
                                     std::to_string(timeout_seconds) +
                                     " s (--token-timeout); stopped it");
        }
        if (!read_some(output.fd, text, "the token command's output"))
            break;
        if (text.size() > document_limit) {
            process.stop();
            throw std::runtime_error("token command printed more than " +
                                     size_text(document_limit) + "; stopped it");
        }
    }
    check_exit(process.wait());
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        throw std::runtime_error("token command printed nothing");
    return text;
}

} // namespace ostrel_cli
