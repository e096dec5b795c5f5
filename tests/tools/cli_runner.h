// Runs the built ostrel-azure and collects what a user would see.
#ifndef OSTREL_TESTS_TOOLS_CLI_RUNNER_H
#define OSTREL_TESTS_TOOLS_CLI_RUNNER_H

#include <optional>
#include <sys/types.h>
#include <string>
#include <utility>
#include <vector>

namespace ostrel_cli_test
{

struct run_result {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Environment changes for the run: a value sets the variable, nullopt unsets it.
using env_changes = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Standard input is /dev/null, or the file input names.
run_result run_cli(const std::vector<std::string> &args, const env_changes &env = {},
                   const std::string &input = "");

// The program running on its own; output goes to the files out and err.
pid_t start_cli(const std::vector<std::string> &args, const env_changes &env,
                const std::string &input, const std::string &out, const std::string &err);

// The whole content of a file; empty when it cannot be read.
std::string slurp(const std::string &path);

// A file that is removed with the object.
class temp_file
{
  public:
    explicit temp_file(const std::string &content);
    ~temp_file();
    const std::string &path() const { return path_; }
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;

  private:
    std::string path_;
};

// A configuration naming the emulator's account at a port where nothing
// listens: enough for a session to start, never for a request to succeed.
std::string unreachable_config();

} // namespace ostrel_cli_test

#endif
