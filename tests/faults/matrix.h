// One cell of the fault matrix: an operation run by the real program while the
// proxy injects one fault, judged by the exit status, the message and what a
// direct request finds afterwards.
#ifndef OSTREL_TESTS_FAULTS_MATRIX_H
#define OSTREL_TESTS_FAULTS_MATRIX_H

#include <functional>
#include <string>
#include <vector>

#include "direct.h"
#include "run.h"

namespace ostrel_faults
{

enum class verdict {
    ok_success, // exit 0, the data exact
    ok_failure, // a clear failure, nothing lost
    gave_up,    // a clear failure of a repeatable request where a repeat would have succeeded
    false_success,
    data_lost,
    unclear, // failed without a message, or with a usage error
    crash,
    hang,
};

bool is_bad(verdict v);
const char *verdict_name(verdict v);

// What a cell works on; every cell has its own container.
struct cell_data {
    std::string container;
    std::string blob = "f";
    std::string data;     // what the operation should produce or read
    std::string previous; // what was there before (put: the old blob; get: the old local file)
    std::string local;    // local file of get and put
};

// The request a fault is aimed at, as a rule's method and target pattern.
struct aim {
    std::string method;
    std::string path; // regex on the target; anchored to the cell's container by the caller
};

struct operation {
    std::string name;
    aim target;
    size_t size = 4096;
    std::vector<std::string> extra_args; // options before the command
    std::function<void(direct &, cell_data &)> prepare;
    std::function<std::vector<std::string>(const cell_data &)> args;
    // The state after success; after a failure, whether nothing was lost.
    std::function<bool(direct &, const cell_data &, const run_result &)> done;
    std::function<bool(direct &, const cell_data &)> intact;
    // false: its data streams from the host and cannot be sent twice, so a transient fault
    // may fail it (clearly)
    bool repeatable = true;
};

struct fault {
    std::string name;
    bool transient; // a repeat of the operation would pass
    // Rules for the proxy, given the aim; empty for faults made another way.
    std::function<std::vector<std::string>(const aim &)> rules;
    bool unreachable = false; // nothing listens where the program is pointed
    bool expiring_token = false;
};

verdict judge(const run_result &r, bool done, bool intact, bool transient);

} // namespace ostrel_faults

#endif
