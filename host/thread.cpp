/* Threads, locks and sleeping, as thin wrappers over POSIX. */
#include "host/ostrel_host.h"

#include <cerrno>
#include <ctime>

int ostrel_thread_create(ostrel_thread_t *thread, void *attr, void *(*func)(void *), void *arg)
{
    (void)attr; /* every host thread is detached: nobody joins plug-in workers */
    if (func == nullptr)
        return EINVAL;
    pthread_attr_t detached;
    int rc = pthread_attr_init(&detached);
    if (rc != 0)
        return rc;
    rc = pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    if (rc == 0)
        rc = pthread_create(&id, &detached, func, arg);
    pthread_attr_destroy(&detached);
    if (rc == 0 && thread != nullptr)
        *thread = id;
    return rc;
}

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
