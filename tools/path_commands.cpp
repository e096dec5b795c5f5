/* mkdir, rmdir and rm: one storage command on one path each. */
#include "tools/cli.h"

#include <cstdlib>

namespace ostrel_cli
{

namespace
{

bool is_container(const std::string &path)
{
    size_t last = path.find_last_not_of('/');
    return last != std::string::npos && path.find('/', 1) > last;
}

/* The plug-in refuses with a bare "NotSupported"; say how to allow it. */
void explain_refusal(const request &req, const ostrel_host::error_info &error)
{
    if (req.command != "rmdir" || !is_container(req.path) ||
        getenv("OSTREL_AZURE_DELETE_CONTAINERS") != nullptr ||
        error.text.find("NotSupported") == std::string::npos)
        return;
    fprintf(stderr,
            "%s: removing a container deletes every blob in it, so it is off by default; set "
            "OSTREL_AZURE_DELETE_CONTAINERS=1 to allow it\n",
            program_name);
}

} // namespace

ostrel_gfs_command_info_t command_info(int number, const request &req)
{
    ostrel_gfs_command_info_t info = {};
    info.command = number;
    info.pathname = const_cast<char *>(req.path.c_str());
    info.cksm_length = -1;
    return info;
}

int run_path_command(const request &req, ostrel_host::session &session, documents &)
{
    int number = req.command == "mkdir"   ? OSTREL_GFS_CMD_MKD
                 : req.command == "rmdir" ? OSTREL_GFS_CMD_RMD
                                          : OSTREL_GFS_CMD_DELE;
    ostrel_host::command_result result = session.command(command_info(number, req));
    if (!result.error.ok) {
        print_failure(req, result.error);
        explain_refusal(req, result.error);
        return 1;
    }
    return 0;
}

} // namespace ostrel_cli
