/* Threads, locks and sleeping, as thin wrappers over POSIX. */
#include "host/ostrel_host.h"

#include "host/operation.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <list>
#include <mutex>

namespace
{

/* Plug-in threads look detached to the plug-in, but the host keeps them
 * joinable so that it can wait for them before it unloads the plug-in: a
 * thread that is still unwinding (or releasing its thread-local state) when
 * its code is unmapped or the process exits would crash or leak. */
struct plugin_thread {
    pthread_t id;
    void *(*func)(void *);
    void *arg;
    std::atomic<bool> finished{false};
    uint64_t number = 0;
    uint64_t epoch = 0;
};

std::mutex threads_lock;
std::list<plugin_thread> threads;
uint64_t next_number = 1;
thread_local plugin_thread *current_plugin_thread = nullptr;

/* A program that exits without unloading its plug-ins still waits for their
 * threads, before the list above is destroyed. */
struct join_at_exit {
    ~join_at_exit() { ostrel_host::join_plugin_threads(); }
} join_at_exit_instance;

void *plugin_thread_main(void *arg)
{
    plugin_thread *self = static_cast<plugin_thread *>(arg);
    current_plugin_thread = self;
    void *result = self->func(self->arg);
    self->finished = true;
    return result;
}

/* Joins the threads whose function has returned; the caller holds threads_lock. */
void reap_finished_threads()
{
    for (auto it = threads.begin(); it != threads.end();) {
        if (it->finished) {
            pthread_join(it->id, nullptr);
            it = threads.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

int ostrel_thread_create(ostrel_thread_t *thread, void *attr, void *(*func)(void *), void *arg)
{
    (void)attr;
    if (func == nullptr)
        return EINVAL;
    std::lock_guard<std::mutex> guard(threads_lock);
    reap_finished_threads();
    plugin_thread &record = threads.emplace_back();
    record.func = func;
    record.arg = arg;
    record.number = next_number++;
    record.epoch = current_plugin_thread ? current_plugin_thread->epoch : record.number;
    int rc = pthread_create(&record.id, nullptr, plugin_thread_main, &record);
    if (rc != 0) {
        threads.pop_back();
        return rc;
    }
    if (thread != nullptr)
        *thread = record.id;
    return 0;
}

namespace ostrel_host
{

void join_plugin_threads()
{
    std::list<plugin_thread> running;
    {
        std::lock_guard<std::mutex> guard(threads_lock);
        running.splice(running.end(), threads);
    }
    for (plugin_thread &record : running)
        pthread_join(record.id, nullptr);
}

plugin_threads_view plugin_threads_now()
{
    plugin_threads_view view;
    std::lock_guard<std::mutex> guard(threads_lock);
    view.next = next_number;
    for (const plugin_thread &record : threads) {
        if (record.finished)
            continue;
        view.oldest_epoch = std::min(view.oldest_epoch, record.epoch);
        view.running.push_back(record.number);
    }
    std::sort(view.running.begin(), view.running.end());
    return view;
}

uint64_t current_plugin_thread_number()
{
    return current_plugin_thread ? current_plugin_thread->number : 0;
}

} // namespace ostrel_host

ostrel_thread_t ostrel_thread_self(void)
{
    return pthread_self();
}

int ostrel_mutex_init(ostrel_mutex_t *mutex, void *attr)
{
    return pthread_mutex_init(mutex, static_cast<pthread_mutexattr_t *>(attr));
}

int ostrel_mutex_destroy(ostrel_mutex_t *mutex)
{
    return pthread_mutex_destroy(mutex);
}

int ostrel_mutex_lock(ostrel_mutex_t *mutex)
{
    return pthread_mutex_lock(mutex);
}

int ostrel_mutex_unlock(ostrel_mutex_t *mutex)
{
    return pthread_mutex_unlock(mutex);
}

int ostrel_cond_init(ostrel_cond_t *cond, void *attr)
{
    return pthread_cond_init(cond, static_cast<pthread_condattr_t *>(attr));
}

int ostrel_cond_destroy(ostrel_cond_t *cond)
{
    return pthread_cond_destroy(cond);
}

int ostrel_cond_wait(ostrel_cond_t *cond, ostrel_mutex_t *mutex)
{
    return pthread_cond_wait(cond, mutex);
}

int ostrel_cond_signal(ostrel_cond_t *cond)
{
    return pthread_cond_signal(cond);
}

int ostrel_cond_broadcast(ostrel_cond_t *cond)
{
    return pthread_cond_broadcast(cond);
}

int ostrel_libc_usleep(unsigned long microseconds)
{
    struct timespec left;
    left.tv_sec = (time_t)(microseconds / 1000000UL);
    left.tv_nsec = (long)(microseconds % 1000000UL) * 1000L;
    /* a signal must not cut a retry delay short */
    while (nanosleep(&left, &left) != 0) {
        if (errno != EINTR)
            return -1;
    }
    return 0;
}
