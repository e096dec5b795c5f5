#include "test_support.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <random>

namespace ostrel_test
{

namespace
{

std::string base36(unsigned long long v)
{
    std::string out;
    do {
        out.insert(out.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[v % 36]);
        v /= 36;
    } while (v != 0);
    return out;
}

} // namespace

// Container names: lowercase letters, digits and single dashes, starting and
// ending with a letter or digit.
std::string unique_name(const std::string &prefix)
{
    // Differs between processes even when PIDs repeat across runs of one emulator.
    static const unsigned long long process_tag =
        (std::random_device{}() ^
         static_cast<unsigned long long>(
             std::chrono::steady_clock::now().time_since_epoch().count())) %
        (36ULL * 36 * 36 * 36 * 36);
    static std::atomic<unsigned long long> counter{0};
    std::string head;
    for (char c : prefix) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            head += c;
        else if (!head.empty() && head.back() != '-')
            head += '-';
    }
    std::string suffix = "-" + base36(process_tag) + "-" + base36(++counter);
    head.resize(std::min(head.size(), 63 - suffix.size()));
    while (!head.empty() && head.back() == '-')
        head.pop_back();
    return (head.empty() ? "t" : head) + suffix;
}

} // namespace ostrel_test
