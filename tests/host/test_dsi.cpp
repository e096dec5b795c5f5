/*
 * A storage plug-in for the host's own tests, loaded by module name like the
 * real one. It answers from detached threads as real plug-ins do, and
 * exports counters and what it saw so tests can look behind the host.
 *   start: config "refuse" fails with 530 LOGIN_DENIED. stat: an empty answer.
 *   MKD succeeds; CKSM sends progress "100", "200"; RMD finishes twice.
 *   send and recv keep the host's concurrency of requests outstanding, each
 *     callback registering the next. send "/gen/SIZE": test_dsi_byte() over
 *     the read ranges. recv stores what arrives; "small": buffers a third of
 *     a block. "early": finishes in the first callback; "late": finishes
 *     again once ostrel_test_dsi_release_late is set.
 */
#include "host/ostrel_host.h"
#include "tests/host/test_dsi.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#define TEST_EXPORT __attribute__((visibility("default")))

extern "C" {
TEST_EXPORT int ostrel_test_dsi_activations = 0;
TEST_EXPORT int ostrel_test_dsi_deactivations = 0;
TEST_EXPORT int ostrel_test_dsi_destroyed = 0;
TEST_EXPORT ostrel_result_t ostrel_test_dsi_second_result = 0;
TEST_EXPORT std::shared_ptr<test_dsi_transfer> ostrel_test_dsi_last_transfer;
TEST_EXPORT std::atomic<bool> ostrel_test_dsi_release_late{false};
}

namespace
{

void *stat_thread(void *arg)
{
    ostrel_gridftp_server_finished_stat(static_cast<ostrel_gfs_operation_t>(arg), OSTREL_SUCCESS,
                                        nullptr, 0);
    return nullptr;
}

void test_start(ostrel_gfs_operation_t op, ostrel_gfs_session_info_t *info)
{
    char *config = nullptr;
    ostrel_gridftp_server_get_config_data(op, "config", &config);
    if (config != nullptr && strcmp(config, "refuse") == 0) {
        free(config);
        ostrel_result_t result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
            nullptr, nullptr, 530, "LOGIN_DENIED", nullptr));
        ostrel_gridftp_server_finished_session_start(op, result, nullptr, nullptr, nullptr);
        return;
    }
    ostrel_gridftp_server_finished_session_start(op, OSTREL_SUCCESS,
                                                 config ? config : strdup("none"), info->username,
                                                 const_cast<char *>("/"));
}

void test_destroy(void *session)
{
    free(session);
    ostrel_test_dsi_destroyed++;
}

void test_stat(ostrel_gfs_operation_t op, ostrel_gfs_stat_info_t *, void *)
{
    ostrel_thread_t thread;
    if (ostrel_thread_create(&thread, nullptr, stat_thread, op) != 0)
        ostrel_gridftp_server_finished_stat(op, OSTREL_FAILURE, nullptr, 0);
}

void *checksum_thread(void *arg)
{
    ostrel_gfs_operation_t op = static_cast<ostrel_gfs_operation_t>(arg);
    ostrel_gridftp_server_intermediate_command(op, OSTREL_SUCCESS, const_cast<char *>("100"));
    ostrel_gridftp_server_intermediate_command(op, OSTREL_SUCCESS, const_cast<char *>("200"));
    ostrel_gridftp_server_finished_command(op, OSTREL_SUCCESS,
                                           const_cast<char *>("d41d8cd98f00b204e9800998ecf8427e"));
    return nullptr;
}

void test_command(ostrel_gfs_operation_t op, ostrel_gfs_command_info_t *info, void *session)
{
    (void)session;
    switch (info->command) {
    case OSTREL_GFS_CMD_MKD:
        ostrel_gridftp_server_finished_command(op, OSTREL_SUCCESS, nullptr);
        return;
    case OSTREL_GFS_CMD_CKSM: {
        ostrel_thread_t thread;
        if (ostrel_thread_create(&thread, nullptr, checksum_thread, op) != 0)
            ostrel_gridftp_server_finished_command(op, OSTREL_FAILURE, nullptr);
        return;
    }
    case OSTREL_GFS_CMD_RMD: {
        ostrel_gridftp_server_finished_command(op, OSTREL_SUCCESS, nullptr);
        ostrel_result_t second = ostrel_error_put(
            ostrel_error_construct_error(nullptr, nullptr, OSTREL_ERROR_TYPE_PLUGIN, "test_dsi",
                                         "test_command", __LINE__, "second finish"));
        ostrel_test_dsi_second_result = second;
        ostrel_gridftp_server_finished_command(op, second, nullptr);
        return;
    }
    default:
        ostrel_gridftp_server_finished_command(op, OSTREL_FAILURE, nullptr);
    }
}

struct job : test_dsi_transfer {
    ostrel_gfs_operation_t op = nullptr;
    bool upload = false;
    std::mutex lock;
    std::condition_variable changed;
    int outstanding = 0;
    bool done = false; /* upload: end of data seen; download: no range left */
    bool finished = false;
    ostrel_result_t first_error = OSTREL_SUCCESS;
    size_t buffer_size = 0;
    int64_t size = 0, pos = 0, range_end = 0; /* download */
    std::map<unsigned char *, int64_t> offset_of;
    std::vector<std::unique_ptr<unsigned char[]>> buffers;
    std::vector<unsigned char *> spare;

    unsigned char *buffer()
    {
        if (!spare.empty()) {
            unsigned char *b = spare.back();
            spare.pop_back();
            return b;
        }
        buffers.emplace_back(new unsigned char[buffer_size]);
        return buffers.back().get();
    }
};

void read_done(ostrel_gfs_operation_t, ostrel_result_t, unsigned char *, size_t, int64_t, bool,
               void *);
void write_done(ostrel_gfs_operation_t, ostrel_result_t, unsigned char *, size_t, void *);

/* Registers requests up to the host's concurrency; j->lock is held. */
void pump(job *j)
{
    while (!j->done && j->first_error == OSTREL_SUCCESS && j->outstanding < j->concurrency) {
        ostrel_result_t rc;
        unsigned char *b;
        if (j->upload) {
            b = j->buffer();
            rc = ostrel_gridftp_server_register_read(j->op, b, j->buffer_size, read_done, j);
        } else {
            if (j->pos >= j->range_end) {
                int64_t offset = 0, length = 0;
                ostrel_gridftp_server_get_read_range(j->op, &offset, &length);
                j->done = length == 0;
                j->pos = offset;
                j->range_end = length < 0 ? j->size : std::min(j->size, offset + length);
                continue;
            }
            size_t n = (size_t)std::min<int64_t>((int64_t)j->buffer_size, j->range_end - j->pos);
            b = j->buffer();
            for (size_t i = 0; i < n; i++)
                b[i] = test_dsi_byte(j->pos + (int64_t)i);
            j->offset_of[b] = j->pos;
            rc = ostrel_gridftp_server_register_write(j->op, b, n, j->pos, -1, write_done, j);
            j->pos += (int64_t)n;
        }
        if (rc != OSTREL_SUCCESS) {
            j->first_error = rc;
            j->spare.push_back(b);
            break;
        }
        j->outstanding++;
    }
    j->changed.notify_all();
}

/* What every callback does after its own part; j->lock is held. */
void settle(job *j, unsigned char *buffer)
{
    j->spare.push_back(buffer);
    j->outstanding--;
    if (j->path.find("early") == std::string::npos) {
        pump(j);
        return;
    }
    j->finished = true;
    j->changed.notify_all();
    ostrel_gridftp_server_finished_transfer(j->op, OSTREL_SUCCESS);
}

void read_done(ostrel_gfs_operation_t, ostrel_result_t result, unsigned char *buffer, size_t nbytes,
               int64_t offset, bool eof, void *arg)
{
    job *j = static_cast<job *>(arg);
    std::lock_guard<std::mutex> guard(j->lock);
    if (j->finished) {
        j->late_callbacks++;
        return;
    }
    j->completions.push_back({offset, (int64_t)nbytes, eof, result != OSTREL_SUCCESS});
    if (result != OSTREL_SUCCESS && j->first_error == OSTREL_SUCCESS)
        j->first_error = result;
    if (nbytes > 0) {
        if (j->data.size() < (size_t)offset + nbytes)
            j->data.resize((size_t)offset + nbytes);
        memcpy(&j->data[(size_t)offset], buffer, nbytes);
        ostrel_gridftp_server_update_bytes_recvd(j->op, offset, (int64_t)nbytes);
    }
    j->done = j->done || eof;
    settle(j, buffer);
}

void write_done(ostrel_gfs_operation_t, ostrel_result_t result, unsigned char *buffer,
                size_t nbytes, void *arg)
{
    job *j = static_cast<job *>(arg);
    std::lock_guard<std::mutex> guard(j->lock);
    if (j->finished) {
        j->late_callbacks++;
        return;
    }
    j->completions.push_back(
        {j->offset_of[buffer], (int64_t)nbytes, false, result != OSTREL_SUCCESS});
    settle(j, buffer);
}

void *transfer_thread(void *arg)
{
    std::shared_ptr<job> *owner = static_cast<std::shared_ptr<job> *>(arg);
    std::shared_ptr<job> j = *owner;
    delete owner;
    ostrel_gridftp_server_begin_transfer(j->op, 0, nullptr);
    std::unique_lock<std::mutex> guard(j->lock);
    if (j->upload)
        j->modtime_rc = ostrel_gridftp_server_get_recv_modification_time(j->op, &j->modtime);
    pump(j.get());
    j->changed.wait(guard, [&] {
        return j->finished ||
               (j->outstanding == 0 && (j->done || j->first_error != OSTREL_SUCCESS));
    });
    if (j->finished)
        return nullptr;
    j->finished = true;
    ostrel_result_t result = j->first_error;
    bool late = j->path.find("late") != std::string::npos;
    ostrel_gfs_operation_t op = j->op;
    guard.unlock();
    ostrel_gridftp_server_finished_transfer(op, result);
    for (int waited = 0; late && !ostrel_test_dsi_release_late && waited < 10000; waited++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (late)
        ostrel_gridftp_server_finished_transfer(op, OSTREL_FAILURE);
    return nullptr;
}

template <bool upload>
void start(ostrel_gfs_operation_t op, ostrel_gfs_transfer_info_t *info, void *)
{
    auto j = std::make_shared<job>();
    j->op = op;
    j->upload = upload;
    j->path = info->pathname ? info->pathname : "";
    ostrel_gridftp_server_get_optimal_concurrency(op, &j->concurrency);
    ostrel_gridftp_server_get_block_size(op, &j->block_size);
    j->buffer_size = j->block_size;
    if (upload && j->path.find("small") != std::string::npos)
        j->buffer_size = j->block_size / 3 + 1;
    if (j->path.compare(0, 5, "/gen/") == 0)
        j->size = strtoll(j->path.c_str() + 5, nullptr, 10);
    ostrel_test_dsi_last_transfer = j;
    ostrel_thread_t thread;
    auto *owner = new std::shared_ptr<job>(j);
    if (ostrel_thread_create(&thread, nullptr, transfer_thread, owner) != 0) {
        delete owner;
        ostrel_gridftp_server_finished_transfer(op, OSTREL_FAILURE);
    }
}

// Session start and end, command, stat, send and recv; no list or realpath slots.
ostrel_gfs_storage_iface_t test_table = {
    0,       test_start, test_destroy, nullptr,   start<false>, start<true>, nullptr, nullptr,
    nullptr, nullptr,    test_command, test_stat, nullptr,      nullptr,     nullptr,
};

ostrel_result_t test_activate(void);
ostrel_result_t test_deactivate(void);

} // namespace

extern "C" TEST_EXPORT const ostrel_module_t ostrel_test_dsi_module = {
    "ostrel_test_dsi", test_activate, test_deactivate, nullptr, nullptr, nullptr, nullptr,
};

namespace
{

ostrel_result_t test_activate(void)
{
    if (getenv("OSTREL_TEST_DSI_REFUSE") != nullptr) {
        return ostrel_error_put(ostrel_error_construct_error(
            &ostrel_test_dsi_module, nullptr, OSTREL_ERROR_TYPE_PLUGIN, "test_dsi", "test_activate",
            __LINE__, "test activation refused"));
    }
    ostrel_test_dsi_activations++;
    if (ostrel_extension_registry_add(&ostrel_i_gfs_dsi_registry, (void *)"test_dsi",
                                      &ostrel_test_dsi_module, &test_table) != 0)
        return OSTREL_FAILURE;
    return OSTREL_SUCCESS;
}

ostrel_result_t test_deactivate(void)
{
    ostrel_extension_registry_remove(&ostrel_i_gfs_dsi_registry, (void *)"test_dsi");
    ostrel_test_dsi_deactivations++;
    return OSTREL_SUCCESS;
}

} // namespace
