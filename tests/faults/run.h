// Runs the built ostrel-azure with a deadline: a hang is a result, not a stuck test.
#ifndef OSTREL_TESTS_FAULTS_RUN_H
#define OSTREL_TESTS_FAULTS_RUN_H

#include <string>
#include <vector>

namespace ostrel_faults
{

struct run_result {
    int status = -1;   // exit status; -1 for a signal or a hang
    bool hung = false; // killed at the deadline
    int signal = 0;    // the signal that ended it, if any
    double seconds = 0;
    std::string out, err;
};

run_result run_program(const std::vector<std::string> &args, int deadline_seconds);

// A file in a directory of its own that goes with the object.
class scratch
{
  public:
    scratch();
    ~scratch();
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    static void write(const std::string &path, const std::string &data);
    static bool read(const std::string &path, std::string &data);

  private:
    std::string dir_;
};

} // namespace ostrel_faults

#endif
