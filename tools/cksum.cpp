/* cksum: the MD5 of a blob or a range, with progress on a terminal. */
#include "tools/cli.h"

#include <unistd.h>

namespace ostrel_cli
{

int run_cksum(const request &req, ostrel_host::session &session, documents &)
{
    ostrel_gfs_command_info_t info = command_info(OSTREL_GFS_CMD_CKSM, req);
    info.cksm_offset = req.offset;
    info.cksm_length = req.length;
    info.cksm_alg = const_cast<char *>("md5");
    bool show_progress = isatty(STDERR_FILENO) != 0;
    bool progress_shown = false;
    std::string shown_path = escape_name(req.path);
    auto on_progress = [&](const std::string &bytes_done) {
        if (!show_progress)
            return;
        fprintf(stderr, "\rcksum %s: %s bytes read", shown_path.c_str(),
                escape_name(bytes_done).c_str());
        fflush(stderr);
        progress_shown = true;
    };
    ostrel_host::command_result result = session.command(info, on_progress);
    if (progress_shown)
        fputc('\n', stderr);
    if (!result.error.ok) {
        print_failure(req, result.error);
        return 1;
    }
    if (result.response.empty()) {
        fprintf(stderr, "%s: cksum %s: the storage interface sent no checksum\n", program_name,
                shown_path.c_str());
        return 1;
    }
    printf("%s\n", escape_name(result.response).c_str());
    return 0;
}

} // namespace ostrel_cli
