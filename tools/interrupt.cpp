/* Ctrl-C and termination: streams write a download out of order, so a
 * program killed in the middle would leave a .part file with holes below its
 * end, which --continue would take as data. The signals go to one thread of
 * ours instead, which may take locks: it waits for the writes in flight, cuts
 * the file back to what is really in place, and then dies of the signal. */
#include "tools/cli.h"

#include <csignal>
#include <pthread.h>

namespace ostrel_cli
{

namespace
{

std::mutex stop_lock;
std::function<void()> stop_action;

void watch(sigset_t signals)
{
    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0)
            continue;
        {
            std::lock_guard<std::mutex> guard(stop_lock);
            if (stop_action)
                stop_action();
        }
        /* returns only while a token command is being started; that thread ends us */
        stop_token_commands(sig);
    }
}

} // namespace

void interrupt_watch_start()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {};
        /* an ignored signal stays ignored */
        if (sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_DFL)
            sigaddset(&signals, sig);
    }
    /* every thread started later inherits the mask */
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0)
        return;
    std::thread(watch, signals).detach();
}

void interrupt_set_stop_action(std::function<void()> action)
{
    std::lock_guard<std::mutex> guard(stop_lock);
    stop_action = std::move(action);
}

} // namespace ostrel_cli
