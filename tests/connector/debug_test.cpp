// The form of debug lines: prefix, level names, thread ids and timestamps.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cctype>
#include <string>

namespace
{

class debug_output : public ::testing::Test
{
  protected:
    ostrel_debug_handle_t saved;
    FILE *file = nullptr;

    void SetUp() override
    {
        saved = ostrel_i_OSTREL_AZURE_debug_handle;
        file = tmpfile();
        ASSERT_NE(file, nullptr);
        ostrel_i_OSTREL_AZURE_debug_handle = ostrel_debug_handle_t{};
        ostrel_i_OSTREL_AZURE_debug_handle.file = file;
    }
    void TearDown() override
    {
        ostrel_i_OSTREL_AZURE_debug_handle = saved;
        fclose(file);
    }
    std::string text()
    {
        fflush(file);
        rewind(file);
        std::string all;
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, file)) > 0)
            all.append(buf, n);
        return all;
    }
};

void ostrel_l_test_traced(void)
{
    ostrel_i_azure_trace_enter();
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_WARNING, "low on %s\n", "buffers");
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_INFO, "command=stat path=%s\n", "/c");
    ostrel_i_azure_trace_exit();
}

TEST_F(debug_output, plain_lines)
{
    ostrel_i_OSTREL_AZURE_debug_handle.levels =
        OSTREL_AZURE_DEBUG_TRACE | OSTREL_AZURE_DEBUG_WARNING;
    ostrel_l_test_traced();
    EXPECT_EQ(text(), "az: TRACE: ostrel_l_test_traced: enter\n"
                      "az:  WARN: ostrel_l_test_traced: low on buffers\n"
                      "az: TRACE: ostrel_l_test_traced: exit\n");
}

TEST_F(debug_output, nothing_without_a_stream)
{
    ostrel_i_OSTREL_AZURE_debug_handle.levels = 0xffffffff;
    ostrel_i_OSTREL_AZURE_debug_handle.file = nullptr;
    ostrel_l_test_traced();
    ostrel_i_OSTREL_AZURE_debug_fwrite("raw", 1, 3);
    ostrel_i_OSTREL_AZURE_debug_handle.file = file;
    EXPECT_EQ(text(), "");
}

TEST_F(debug_output, thread_ids_prefix_each_write)
{
    ostrel_i_OSTREL_AZURE_debug_handle.levels = OSTREL_AZURE_DEBUG_INFO;
    ostrel_i_OSTREL_AZURE_debug_handle.thread_ids = true;
    ostrel_l_test_traced();
    std::string id = std::to_string((unsigned long)ostrel_thread_self());
    EXPECT_EQ(text(), id + "::az:  INFO: ostrel_l_test_traced: " + id + "::command=stat path=/c\n");
}

// Replaces each "seconds.nanoseconds" stamp (digits, a dot, nine digits) by "T".
std::string mask_times(const std::string &text)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && isdigit((unsigned char)text[j]))
            j++;
        size_t k = j + 1;
        while (k < text.size() && k - j - 1 < 9 && isdigit((unsigned char)text[k]))
            k++;
        bool stamp = j > i && j < text.size() && text[j] == '.' && k - j - 1 == 9 &&
                     (k == text.size() || !isdigit((unsigned char)text[k]));
        if (stamp) {
            out += 'T';
            i = k;
        } else {
            out += text.substr(i, j > i ? j - i : 1);
            i = j > i ? j : i + 1;
        }
    }
    return out;
}

TEST_F(debug_output, timestamps_only_for_their_levels)
{
    ostrel_i_OSTREL_AZURE_debug_handle.levels = OSTREL_AZURE_DEBUG_TRACE | OSTREL_AZURE_DEBUG_INFO;
    ostrel_i_OSTREL_AZURE_debug_handle.timestamp_levels = OSTREL_AZURE_DEBUG_TRACE;
    ostrel_l_test_traced();
    std::string out = text();
    EXPECT_EQ(mask_times(out), "T::az: TRACE: ostrel_l_test_traced: T::enter\n"
                               "az:  INFO: ostrel_l_test_traced: command=stat path=/c\n"
                               "T::az: TRACE: ostrel_l_test_traced: T::exit\n");

    ostrel_i_OSTREL_AZURE_debug_handle.thread_ids = true;
    ostrel_i_OSTREL_AZURE_debug_time_printf("x=%d\n", 5);
    std::string id = std::to_string((unsigned long)ostrel_thread_self());
    EXPECT_EQ(mask_times(text().substr(out.size())), id + ":T::x=5\n");
}

TEST_F(debug_output, failing_results_at_error_with_the_friendly_text)
{
    ostrel_i_OSTREL_AZURE_debug_handle.levels = OSTREL_AZURE_DEBUG_ERROR;
    ostrel_result_t result = ostrel_i_azure_system_error("malloc", 12);
    ostrel_i_azure_trace_result(result);
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    std::string out = text();
    EXPECT_EQ(out.rfind("az: ERROR: TestBody: result=0x", 0), 0u) << out;
    EXPECT_NE(out.find("message="), std::string::npos);
    EXPECT_NE(out.find("System error in malloc"), std::string::npos) << out;
    EXPECT_NE(ostrel_error_peek(result), nullptr); // peeked, not taken
    ostrel_object_free(ostrel_error_get(result));
}

} // namespace
