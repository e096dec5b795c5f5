/* stat and ls: entries are printed as the plug-in's answers arrive, so a long
 * listing shows progress. */
#include "tools/cli.h"

namespace ostrel_cli
{

namespace
{

void print_entry(const request &req, const ostrel_gfs_stat_t &entry, const char *name, FILE *out)
{
    if (req.json)
        fprintf(out, "%s\n", json_line(entry, name).c_str());
    else if (req.long_format || req.command == "stat")
        fprintf(out, "%s\n", long_line(entry, name).c_str());
    else
        fprintf(out, "%s\n", name ? name : "?");
}

} // namespace

int run_stat(const request &req, ostrel_host::session &session, FILE *out)
{
    ostrel_host::stat_result result = session.stat(req.path, true);
    if (!result.error.ok) {
        fputs(error_text("stat " + req.path, result.error).c_str(), stderr);
        return 1;
    }
    for (const ostrel_gfs_stat_t &entry : result.entries) {
        /* "." is the plug-in's name for the object asked about */
        bool self = entry.name == nullptr || std::string(entry.name) == ".";
        print_entry(req, entry, self ? req.path.c_str() : entry.name, out);
    }
    return 0;
}

int run_ls(const request &req, ostrel_host::session &session, FILE *out)
{
    auto on_partial = [&req, out](const ostrel_gfs_stat_t *entries, int count) {
        for (int i = 0; i < count; i++)
            print_entry(req, entries[i], entries[i].name, out);
        fflush(out);
    };
    ostrel_host::stat_result result = session.stat(req.path, false, on_partial);
    size_t printed = 0;
    for (int batch : result.batches)
        printed += (size_t)batch;
    for (size_t i = printed; i < result.entries.size(); i++)
        print_entry(req, result.entries[i], result.entries[i].name, out);
    fflush(out);
    if (!result.error.ok) {
        fputs(error_text("ls " + req.path, result.error).c_str(), stderr);
        return 1;
    }
    return 0;
}

} // namespace ostrel_cli
