// Built from the installed headers and library alone: loads the plug-in by
// module name, as any program embedding the host would, and prints the file
// it came from.
#include "host/ostrel_host_runtime.h"

#include <cstdio>
#include <dlfcn.h>

int main()
{
    const std::string name = "ostrel_gridftp_server_azure_blob";
    try {
        auto module = ostrel_host::loaded_module::load(name);
        void *record = module->symbol(name + "_module");
        Dl_info info;
        if (module->dsi("azure_blob") == nullptr || record == nullptr ||
            dladdr(record, &info) == 0) {
            fputs("embed: the plug-in registered nothing\n", stderr);
            return 1;
        }
        puts(info.dli_fname);
    } catch (const std::exception &e) {
        fprintf(stderr, "embed: %s\n", e.what());
        return 1;
    }
    return 0;
}
