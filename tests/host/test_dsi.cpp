/*
 * A storage plug-in for the host's own tests, loaded by module name like the
 * real one. It answers from detached threads as real plug-ins do, and its
 * counters and last results are exported so tests can look behind the host.
 *
 * Behaviour by input:
 *   session start: config "refuse" fails with 530 LOGIN_DENIED; otherwise the
 *     config text becomes the session handle.
 *   stat "/missing": 550 PATH_NOT_FOUND over a cause; any other path: two
 *     partial answers (2 and 3 entries) and a final one (1 entry), names
 *     "<session>:<n>", from a worker thread.
 *   commands: MKD succeeds; DELE fails with 550 PATH_NOT_FOUND; CKSM sends
 *     two progress replies and a checksum; RMD finishes twice (a plug-in
 *     fault the host must survive); SITE_DSI answers the update interval and the documents.
 *   send and recv: see test_dsi_transfer.cpp.
 */
#include "host/ostrel_host.h"
#include "tests/host/test_dsi.h"

#include <cstdlib>
#include <cstring>
#include <string>

#define TEST_EXPORT __attribute__((visibility("default")))

extern "C" {
TEST_EXPORT int ostrel_test_dsi_activations = 0;
TEST_EXPORT int ostrel_test_dsi_deactivations = 0;
TEST_EXPORT int ostrel_test_dsi_destroyed = 0;
TEST_EXPORT ostrel_result_t ostrel_test_dsi_last_result = 0;
TEST_EXPORT ostrel_result_t ostrel_test_dsi_second_result = 0;
}

namespace
{

struct stat_job {
    ostrel_gfs_operation_t op;
    std::string session;
    std::string path;
};

void fill(ostrel_gfs_stat_t *entry, char *name, int n)
{
    memset(entry, 0, sizeof *entry);
    entry->mode = 040700;
    entry->nlink = 1;
    entry->name = name;
    entry->size = n * 100;
    entry->atime = entry->ctime = entry->mtime = -1;
    entry->ino = n;
}

/* Sends count entries numbered from first, then scribbles over the names:
 * the host must have kept its own copies. */
void answer(stat_job *job, int first, int count, bool final)
{
    ostrel_gfs_stat_t entries[3];
    char names[3][64];
    for (int i = 0; i < count; i++) {
        snprintf(names[i], sizeof names[i], "%s:%d", job->session.c_str(), first + i);
        fill(&entries[i], names[i], first + i);
    }
    if (final)
        ostrel_gridftp_server_finished_stat(job->op, OSTREL_SUCCESS, entries, count);
    else
        ostrel_gridftp_server_finished_stat_partial(job->op, OSTREL_SUCCESS, entries, count);
    memset(names, 'X', sizeof names);
}

void *stat_thread(void *arg)
{
    stat_job *job = static_cast<stat_job *>(arg);
    if (job->path == "/missing") {
        ostrel_object_t *cause = ostrel_error_construct_error(
            nullptr, nullptr, OSTREL_ERROR_TYPE_AZURE, "test_dsi", "stat_thread", __LINE__,
            "Azure Error accessing \"%s\"", job->path.c_str());
        ostrel_result_t result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
            nullptr, cause, 550, "PATH_NOT_FOUND", "GridFTP-Path: \"%s\"", job->path.c_str()));
        ostrel_test_dsi_last_result = result;
        ostrel_gridftp_server_finished_stat(job->op, result, nullptr, 0);
    } else {
        answer(job, 1, 2, false);
        answer(job, 3, 3, false);
        answer(job, 6, 1, true);
    }
    delete job;
    return nullptr;
}

void test_start(ostrel_gfs_operation_t op, ostrel_gfs_session_info_t *info)
{
    (void)info;
    char *config = nullptr;
    ostrel_gridftp_server_get_config_data(op, "config", &config);
    if (config != nullptr && strcmp(config, "refuse") == 0) {
        free(config);
        ostrel_result_t result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
            nullptr, nullptr, 530, "LOGIN_DENIED", nullptr));
        ostrel_test_dsi_last_result = result;
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

void test_stat(ostrel_gfs_operation_t op, ostrel_gfs_stat_info_t *info, void *session)
{
    stat_job *job = new stat_job{op, static_cast<char *>(session), info->pathname};
    ostrel_thread_t thread;
    if (ostrel_thread_create(&thread, nullptr, stat_thread, job) != 0) {
        delete job;
        ostrel_gridftp_server_finished_stat(op, OSTREL_FAILURE, nullptr, 0);
    }
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
    case OSTREL_GFS_CMD_DELE: {
        ostrel_result_t result = ostrel_error_put(ostrel_gfs_ftp_response_error_construct(
            nullptr, nullptr, 550, "PATH_NOT_FOUND", "GridFTP-Path: \"%s\"", info->pathname));
        ostrel_test_dsi_last_result = result;
        ostrel_gridftp_server_finished_command(op, result, nullptr);
        return;
    }
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
    case OSTREL_GFS_CMD_SITE_DSI: {
        int interval = -1;
        ostrel_gridftp_server_get_update_interval(op, &interval);
        std::string reply = std::to_string(interval);
        const char *keys[] = {"config", "creds", "nokey"};
        for (const char *key : keys) {
            char *text = nullptr;
            ostrel_gridftp_server_get_config_data(op, key, &text);
            reply += std::string(" ") + key + "=" + (text ? text : "none");
            free(text);
        }
        ostrel_gridftp_server_finished_command(op, OSTREL_SUCCESS, &reply[0]);
        return;
    }
    default:
        ostrel_gridftp_server_finished_command(op, OSTREL_FAILURE, nullptr);
    }
}

// Session start and end, command, stat, send and recv; no list or realpath slots.
ostrel_gfs_storage_iface_t test_table = {
    0,       test_start, test_destroy, nullptr,   test_dsi_send, test_dsi_recv, nullptr, nullptr,
    nullptr, nullptr,    test_command, test_stat, nullptr,       nullptr,       nullptr,
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
