#include "test_support.h"

#include <atomic>
#include <chrono>
#include <random>
#include <unistd.h>

namespace ostrel_test
{

namespace
{

std::string base36(unsigned long long v)
{
    const char *digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    do {
        out.insert(out.begin(), digits[v % 36]);
        v /= 36;
    } while (v != 0);
    return out;
}

// Container names: lowercase letters, digits and single dashes, starting and
// ending with a letter or digit.
std::string clean_prefix(const std::string &prefix)
{
    std::string out;
    for (char c : prefix) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (ok) {
            out += c;
        } else if (!out.empty() && out.back() != '-') {
            out += '-';
        }
    }
    while (!out.empty() && out.back() == '-') {
        out.pop_back();
    }
    return out.empty() ? "t" : out;
}

// Differs between processes even when PIDs repeat across runs of one emulator.
unsigned long long process_tag()
{
    static const unsigned long long tag = [] {
        std::random_device rd;
        unsigned long long r = (static_cast<unsigned long long>(rd()) << 32) ^ rd();
        r ^= static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        return (r ^ (static_cast<unsigned long long>(getpid()) << 20)) %
               (36ULL * 36 * 36 * 36 * 36);
    }();
    return tag;
}

} // namespace

std::string unique_name(const std::string &prefix)
{
    static std::atomic<unsigned long long> counter{0};
    std::string suffix = "-" + base36(process_tag()) + "-" + base36(++counter);
    std::string head = clean_prefix(prefix);
    if (head.size() + suffix.size() > 63) {
        head.resize(63 - suffix.size());
        while (!head.empty() && head.back() == '-') {
            head.pop_back();
        }
        if (head.empty()) {
            head = "t";
        }
    }
    return head + suffix;
}

} // namespace ostrel_test
