#include "blob_service/header_line.h"

#include <gtest/gtest.h>

#include <cstring>

namespace bs = azure::blob_service;

namespace
{

TEST(header_line, status_lines_fields_and_the_rest)
{
    struct {
        const char *line;
        bool is_status;
        int status;
        const char *name;
        const char *value;
    } cases[] = {
        {"HTTP/1.1 404 Not Found: gone\r\n", true, 404, "", ""},
        {"HTTP/2 206\r\n", true, 206, "", ""},
        {"HTTP/1.1 20x OK\r\n", true, 0, "", ""},
        {"HTTP/1.1 2000 OK\r\n", true, 0, "", ""},
        {"HTTP/1.1 20\r\n", true, 0, "", ""},
        {"Content-Range: bytes 0-9/10\r\n", false, 0, "Content-Range", "bytes 0-9/10"},
        {"Location:http://h:1/\n", false, 0, "Location", "http://h:1/"},
        {"x-ms-meta-a:  b", false, 0, "x-ms-meta-a", " b"},
        {"\r\n", false, 0, "", ""},
        {"no colon here\r\n", false, 0, "", ""},
    };
    for (const auto &c : cases) {
        bs::header_line line = bs::parse_header_line(c.line, strlen(c.line));
        EXPECT_EQ(line.is_status, c.is_status) << c.line;
        EXPECT_EQ(line.status, c.status) << c.line;
        EXPECT_EQ(line.name, c.name) << c.line;
        EXPECT_EQ(line.value, c.value) << c.line;
    }
}

} // namespace
