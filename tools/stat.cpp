/* stat and ls: entries are printed as the plug-in's answers arrive, so a long
 * listing shows progress. */
#include "tools/cli.h"

namespace ostrel_cli
{

namespace
{

void print_entry(const request &req, const ostrel_gfs_stat_t &entry, const char *name)
{
    if (req.json)
        printf("%s\n", json_line(entry, name).c_str());
    else if (req.long_format || req.command == "stat")
        printf("%s\n", long_line(entry, name).c_str());
    else
        printf("%s\n", name ? escape_name(name).c_str() : "?");
}

bool not_found(const ostrel_host::error_info &error)
{
    return error.reply_code == 550 && error.response_error_code == "PATH_NOT_FOUND";
}

} // namespace

int run_stat(const request &req, ostrel_host::session &session, documents &)
{
    ostrel_host::stat_result result = session.stat(req.path, true);
    if (!result.error.ok) {
        print_failure(req, result.error);
        return 1;
    }
    for (const ostrel_gfs_stat_t &entry : result.entries) {
        /* "." is the plug-in's name for the object asked about */
        bool self = entry.name == nullptr || std::string(entry.name) == ".";
        print_entry(req, entry, self ? req.path.c_str() : entry.name);
    }
    return 0;
}

int run_ls(const request &req, ostrel_host::session &session, documents &)
{
    auto on_partial = [&req](const ostrel_gfs_stat_t *entries, int count) {
        for (int i = 0; i < count; i++)
            print_entry(req, entries[i], entries[i].name);
        fflush(stdout);
    };
    ostrel_host::stat_result result = session.stat(req.path, false, on_partial);
    if (result.entries.empty() && not_found(result.error)) {
        /* a plain blob has no listing; like ls, show the file itself */
        ostrel_host::stat_result file = session.stat(req.path, true);
        if (file.error.ok) {
            for (const ostrel_gfs_stat_t &entry : file.entries)
                print_entry(req, entry, req.path.c_str());
            return 0;
        }
    }
    size_t printed = 0;
    for (int batch : result.batches)
        printed += (size_t)batch;
    for (size_t i = printed; i < result.entries.size(); i++)
        print_entry(req, result.entries[i], result.entries[i].name);
    fflush(stdout);
    if (!result.error.ok) {
        print_failure(req, result.error);
        return 1;
    }
    return 0;
}

} // namespace ostrel_cli
