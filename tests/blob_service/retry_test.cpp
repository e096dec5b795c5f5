// How long the client waits before repeating a request.
#include "blob_service/retry.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace bs = azure::blob_service;
using ms = std::chrono::milliseconds;

namespace
{

TEST(retry, backoff_doubles_jitters_into_the_upper_half_and_stops_at_the_cap)
{
    bs::retry_settings settings; // 500 ms, doubling, 30 s
    struct {
        int repeat;
        double jitter;
        long long server;
        long long wait;
    } cases[] = {
        {1, 0.0, -1, 250},      {1, 0.999, -1, 499},    {2, 0.0, -1, 500},
        {3, 0.5, -1, 1500},     {6, 0.0, -1, 8000},     {7, 0.0, -1, 15000},
        {8, 0.0, -1, 15000},    {8, 0.999, -1, 29985},  {60, 0.0, -1, 15000},
        {1000, 0.5, -1, 22500}, // no overflow however many repeats
        {1, 0.0, 2000, 2000},   {1, 0.0, 0, 250},       {3, 0.0, 100, 1000},
        {1, 0.0, 30000, 30000}, {1, 0.0, 30001, 30000}, {2, 0.0, 1LL << 40, 30000},
        {1, 7.0, -1, 500},      {1, -1.0, -1, 250}, // a stray jitter stays within the step
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bs::backoff_delay(settings, c.repeat, c.jitter, ms(c.server)).count(), c.wait)
            << c.repeat << " " << c.jitter << " " << c.server;
    }

    // A cap below the first step shortens the first step too.
    bs::retry_settings small{4, ms(500), ms(40)};
    EXPECT_EQ(bs::backoff_delay(small, 1, 0.0, ms(-1)).count(), 20);
    EXPECT_EQ(bs::backoff_delay(small, 3, 0.999, ms(5000)).count(), 40);
}

TEST(retry, wait_asked_by_the_answer)
{
    struct {
        std::vector<std::pair<std::string, std::string>> headers;
        long long wait;
    } cases[] = {
        {{}, -1},
        {{{"Retry-After", "2"}}, 2000},
        {{{"retry-after", " 0 "}}, 0},
        {{{"x-ms-retry-after-ms", "1500"}}, 1500},
        {{{"Retry-After-Ms", "20"}}, 20},
        // milliseconds win over seconds; an unusable one gives way to the next
        {{{"Retry-After", "9"}, {"x-ms-retry-after-ms", "30"}}, 30},
        {{{"Retry-After", "9"}, {"x-ms-retry-after-ms", "soon"}}, 9000},
        {{{"Retry-After", "Wed, 21 Oct 2026 07:28:00 GMT"}}, -1},
        {{{"Retry-After", "-5"}}, -1},
        {{{"Retry-After", "1.5"}}, -1},
        {{{"Retry-After", "3x"}}, -1},
        {{{"Retry-After", ""}}, -1},
        {{{"Retry-After", "99999999999999999999999999"}}, 1LL << 40},
        {{{"x-ms-retry-after-ms", "99999999999999999999999999"}}, 1LL << 40},
    };
    for (const auto &c : cases) {
        bs::header_map headers(c.headers.begin(), c.headers.end());
        EXPECT_EQ(bs::server_retry_delay(headers).count(), c.wait)
            << (c.headers.empty() ? "" : c.headers.back().second);
    }
}

TEST(retry, repeats_retryable_statuses_up_to_the_attempts)
{
    bs::retry_policy policy(bs::retry_settings{3, ms(10), ms(80)});
    struct {
        int numbers;
        int result;
        bool repeat;
    } cases[] = {
        {1, 503, true},  {2, 500, true},  {3, 503, false}, {1, 408, true},
        {1, 404, false}, {1, 409, false}, {1, 501, false},
    };
    for (const auto &c : cases) {
        bs::retry_context context;
        context.numbers = c.numbers;
        context.result = c.result;
        bs::retry_info info = policy.evaluate(context);
        EXPECT_EQ(info.should_retry, c.repeat) << c.numbers << " " << c.result;
        if (info.should_retry) {
            long long step = 10LL << (c.numbers - 1);
            EXPECT_GE(info.interval.count(), step - step / 2);
            EXPECT_LE(info.interval.count(), step);
        }
    }
    bs::retry_context asked;
    asked.numbers = 1;
    asked.result = 503;
    asked.server_delay = ms(70);
    EXPECT_EQ(policy.evaluate(asked).interval.count(), 70);
    asked.server_delay = ms(5000);
    EXPECT_EQ(policy.evaluate(asked).interval.count(), 80);
}

} // namespace
