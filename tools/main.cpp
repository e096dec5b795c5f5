/* ostrel-azure: one operation through the plug-in, loaded as a server loads it. */
#include "tools/cli.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

using namespace ostrel_cli;

/* $HOME, else the password database: a cron job may run without HOME. */
static std::string ostrel_l_home()
{
    const char *home = getenv("HOME");
    if (home != nullptr && *home != '\0')
        return home;
    struct passwd *entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

static int ostrel_l_main(const request &req, const command_spec &command)
{
    if (!req.debug.empty())
        setenv("OSTREL_AZURE_DEBUG", req.debug.c_str(), 1);
    try {
        std::string home = ostrel_l_home();
        config_choice config = config_location(req.config_file, getenv("OSTREL_AZURE_CONFIG"),
                                               getenv("XDG_CONFIG_HOME"), home.c_str());
        documents docs(req, config);
        std::unique_ptr<ostrel_host::loaded_module> module =
            ostrel_host::loaded_module::load(module_name);
        const ostrel_gfs_storage_iface_t *dsi = module->dsi(dsi_name);
        if (dsi == nullptr) {
            fprintf(stderr, "%s: module %s registered no storage interface \"%s\"\n", program_name,
                    module_name, dsi_name);
            return 1;
        }
        ostrel_host::session_options options;
        options.documents = [&docs](const std::string &key) { return docs.get(key); };
        /* progress is only worth asking for when someone watches stderr */
        options.update_interval = req.update_interval.value_or(isatty(STDERR_FILENO) ? 2 : 0);
        options.streams = req.streams;
        options.block_size = req.block_size;
        int status;
        {
            ostrel_host::session session(dsi, std::move(options));
            ostrel_host::error_info started = session.start();
            if (!started.ok) {
                fputs(error_text("session start with " + escape_name(docs.config_path()), started)
                          .c_str(),
                      stderr);
                return 1;
            }
            status = command.run(req, session, docs);
            session.end();
        }
        return status;
    } catch (const std::exception &e) {
        fprintf(stderr, "%s: %s\n", program_name, e.what());
        return 1;
    }
}

int main(int argc, char **argv)
{
    interrupt_watch_start();
    request req;
    try {
        req = parse_arguments(argc, argv);
    } catch (const usage_error &e) {
        fprintf(stderr, "%s: %s\n%s\nTry '%s --help'.\n", program_name, e.what(), usage_line(),
                program_name);
        return 2;
    }
    const command_spec *command = find_command(req.command);
    if (req.help || command == nullptr) {
        print_help(stdout, command);
        return 0;
    }
    return ostrel_l_main(req, *command);
}
