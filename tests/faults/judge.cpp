#include "matrix.h"

namespace ostrel_faults
{

bool is_bad(verdict v)
{
    return v != verdict::ok_success && v != verdict::ok_failure;
}

const char *verdict_name(verdict v)
{
    switch (v) {
    case verdict::ok_success:
        return "ok-success";
    case verdict::ok_failure:
        return "ok-failure";
    case verdict::gave_up:
        return "BAD gave-up";
    case verdict::false_success:
        return "BAD false-success";
    case verdict::data_lost:
        return "BAD data-lost";
    case verdict::unclear:
        return "BAD unclear";
    case verdict::crash:
        return "BAD crash";
    case verdict::hang:
        return "BAD hang";
    }
    return "?";
}

// A failure is clear when it exits 1 and says why; success must leave exactly
// the data asked for, and a failure must leave what was there.
verdict judge(const run_result &r, bool done, bool intact, bool transient)
{
    if (r.hung)
        return verdict::hang;
    if (r.signal != 0)
        return verdict::crash;
    if (r.status == 0)
        return done ? verdict::ok_success : verdict::false_success;
    if (!intact)
        return verdict::data_lost;
    if (r.status != 1 || r.err.empty())
        return verdict::unclear;
    return transient ? verdict::gave_up : verdict::ok_failure;
}

} // namespace ostrel_faults
