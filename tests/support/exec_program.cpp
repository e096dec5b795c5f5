// The child's half of running the program under test with its streams in files.
#include "test_support.h"

#include <fcntl.h>
#include <unistd.h>

namespace ostrel_test
{

void exec_program(const std::string &program, const std::vector<std::string> &args,
                  const std::string &in, const std::string &out, const std::string &err)
{
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int i = open(in.c_str(), O_RDONLY);
    if (o < 0 || e < 0 || i < 0)
        _exit(127);
    dup2(i, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

} // namespace ostrel_test
