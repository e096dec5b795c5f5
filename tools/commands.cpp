/* mkdir, rmdir, rm and cksum: one storage command each. */
#include "tools/cli.h"

#include <unistd.h>

namespace ostrel_cli
{

namespace
{

ostrel_gfs_command_info_t command_for(int number, const request &req)
{
    ostrel_gfs_command_info_t info = {};
    info.command = number;
    info.pathname = const_cast<char *>(req.path.c_str());
    info.cksm_length = -1;
    return info;
}

} // namespace

int run_path_command(const request &req, ostrel_host::session &session)
{
    int number = req.command == "mkdir"   ? OSTREL_GFS_CMD_MKD
                 : req.command == "rmdir" ? OSTREL_GFS_CMD_RMD
                                          : OSTREL_GFS_CMD_DELE;
    ostrel_host::command_result result = session.command(command_for(number, req));
    if (!result.error.ok) {
        fputs(error_text(req.command + " " + req.path, result.error).c_str(), stderr);
        return 1;
    }
    return 0;
}

int run_cksum(const request &req, ostrel_host::session &session, FILE *out)
{
    ostrel_gfs_command_info_t info = command_for(OSTREL_GFS_CMD_CKSM, req);
    info.cksm_offset = req.cksm_offset;
    info.cksm_length = req.cksm_length;
    info.cksm_alg = const_cast<char *>("md5");
    bool show_progress = isatty(STDERR_FILENO) != 0;
    bool progress_shown = false;
    auto on_progress = [&](const std::string &bytes_done) {
        if (!show_progress)
            return;
        fprintf(stderr, "\rcksum %s: %s bytes read", req.path.c_str(), bytes_done.c_str());
        fflush(stderr);
        progress_shown = true;
    };
    ostrel_host::command_result result = session.command(info, on_progress);
    if (progress_shown)
        fputc('\n', stderr);
    if (!result.error.ok) {
        fputs(error_text("cksum " + req.path, result.error).c_str(), stderr);
        return 1;
    }
    if (result.response.empty()) {
        fprintf(stderr, "%s: cksum %s: the storage interface sent no checksum\n", program_name,
                req.path.c_str());
        return 1;
    }
    fprintf(out, "%s\n", result.response.c_str());
    return 0;
}

int run_command_line(const request &req, ostrel_host::session &session, documents &docs)
{
    if (req.command == "check")
        return run_check(req, session, docs);
    if (req.command == "stat")
        return run_stat(req, session, stdout);
    if (req.command == "ls")
        return run_ls(req, session, stdout);
    if (req.command == "cksum")
        return run_cksum(req, session, stdout);
    return run_path_command(req, session);
}

} // namespace ostrel_cli
