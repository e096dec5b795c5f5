#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "az/md5_text.h"

namespace
{

TEST(md5_text, known_digests_and_damaged_values)
{
    const std::pair<const char *, const char *> cases[] = {
        {"AAAAAAAAAAAAAAAAAAAAAA==", "00000000000000000000000000000000"},
        // MD5 of "hello".
        {"XUFAKrxLKna5cZ2REBfFkg==", "5d41402abc4b2a76b9719d911017c592"},
        // MD5 of the empty text.
        {"1B2M2Y8AsgTpgAmY7PhCfg==", "d41d8cd98f00b204e9800998ecf8427e"},
        {"", ""},
        // Damaged values give no MD5: not base64; base64 of 3 bytes; base64 of 18 bytes.
        {"%%%notbase64%%%", ""},
        {"AAAA", ""},
        {"AAAAAAAAAAAAAAAAAAAAAAAA", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AZ_md5_hex(c.first), c.second) << c.first;
    }
}

} // namespace
