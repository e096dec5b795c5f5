// Access tokens: expiry parsing and the renewal threshold.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace
{

TEST(parse_date, offsets_fraction_and_rejected_texts)
{
    struct row {
        const char *text;
        time_t seconds;
    };
    const row rows[] = {
        {"2024-03-01T12:00:00.000000+00:00", 1709294400},
        {"2024-03-01T12:00:00.123456+00:00", 1709294400},
        {"2024-03-01T12:00:00.000000+02:00", 1709287200}, // two hours earlier
        {"2024-03-01T12:00:00.000000-05:30", 1709314200}, // five and a half hours later
        {"2024-03-01T00:30:00.5+01:30", 1709247600},      // across midnight into February
        // Thirty minutes behind UTC: the sign is the text's, not the hour field's.
        {"2024-03-01T12:00:00.000000-00:30", 1709296200},
        {"2024-03-01T12:00:00.000000+00:30", 1709292600},
        // the edges of every field
        {"2024-12-31T23:59:59.0+00:00", 1735689599},
        {"2024-01-01T00:00:00.0-23:59", 1704153540},
        {"2024-01-01T00:00:00.0+23:00", 1703984400},
        {"2016-12-31T23:59:60.0+00:00", 1483228800},
    };
    for (const row &r : rows) {
        time_t seconds = 0;
        EXPECT_EQ(ostrel_i_azure_parse_date(r.text, &seconds), OSTREL_SUCCESS) << r.text;
        EXPECT_EQ(seconds, r.seconds) << r.text;
    }
    // Rejected texts leave the result alone and name themselves.
    for (const char *text : {"2024-03-01T12:00:00+00:00", "2024-03-01T12:00:00.000000Z",
                             "2024-03-01T12:00:00Z", "", "tomorrow", "2024-03-01",
                             // fields out of range name no instant
                             "2024-13-01T12:00:00.000000+00:00", "2024-00-01T12:00:00.0+00:00",
                             "2024-03-00T12:00:00.0+00:00", "2024-03-32T12:00:00.0+00:00",
                             "2024-03-01T24:00:00.0+00:00", "2024-03-01T12:60:00.0+00:00",
                             "2024-03-01T12:00:61.0+00:00", "2024-03-01T-1:00:00.0+00:00",
                             "2024-03-01T12:00:00.0+24:00", "2024-03-01T12:00:00.0-24:00",
                             "2024-03-01T12:00:00.0+00:60", "2024-03-01T12:00:00.0+00:-1"}) {
        time_t seconds = 42;
        ostrel_result_t result = ostrel_i_azure_parse_date(text, &seconds);
        ASSERT_NE(result, OSTREL_SUCCESS) << text;
        EXPECT_EQ(seconds, 42) << text;
        ostrel_object_t *error = ostrel_error_get(result);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(std::string(ostrel_error_get_text(error)),
                  std::string("Error parsing time string: ") + text + "\n");
        ostrel_object_free(error);
    }
}

TEST(token_renewal, threshold_is_99_seconds)
{
    const time_t now = 1709294400;
    EXPECT_FALSE(ostrel_i_azure_token_needs_renewal(now, now + 100));
    EXPECT_TRUE(ostrel_i_azure_token_needs_renewal(now, now + 99));
}

} // namespace
