// Which debug lines are written, and with which prefix and level name.
#include "connector/ostrel_i_azure.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace
{

class debug_output : public ::testing::Test
{
  protected:
    ostrel_debug_handle_t saved = ostrel_i_OSTREL_AZURE_debug_handle;
    FILE *file = tmpfile();

    void SetUp() override
    {
        ASSERT_NE(file, nullptr);
        ostrel_i_OSTREL_AZURE_debug_handle = ostrel_debug_handle_t{};
        ostrel_i_OSTREL_AZURE_debug_handle.file = file;
    }
    void TearDown() override
    {
        ostrel_i_OSTREL_AZURE_debug_handle = saved;
        fclose(file);
    }
    // What was written since the last call.
    std::string text()
    {
        std::string all;
        fseek(file, read_at, SEEK_SET);
        for (int ch; (ch = fgetc(file)) != EOF;)
            all += (char)ch;
        read_at = ftell(file);
        return all;
    }
    long read_at = 0;
};

void ostrel_l_test_traced(void)
{
    ostrel_i_azure_trace_enter();
    ostrel_i_azure_log(OSTREL_AZURE_DEBUG_WARNING, "low on %s\n", "buffers");
    ostrel_i_azure_log_from(OSTREL_AZURE_DEBUG_INFO, "ostrel_l_test_worker", "path=%s\n", "/c");
    ostrel_i_azure_trace_exit();
}

TEST_F(debug_output, levels_and_names)
{
    ostrel_i_OSTREL_AZURE_debug_handle.levels =
        OSTREL_AZURE_DEBUG_TRACE | OSTREL_AZURE_DEBUG_WARNING | OSTREL_AZURE_DEBUG_INFO;
    ostrel_l_test_traced();
    EXPECT_EQ(text(), "az: TRACE: ostrel_l_test_traced: enter\n"
                      "az:  WARN: ostrel_l_test_traced: low on buffers\n"
                      "az:  INFO: ostrel_l_test_worker: path=/c\n"
                      "az: TRACE: ostrel_l_test_traced: exit\n");

    ostrel_i_OSTREL_AZURE_debug_handle.file = nullptr;
    ostrel_l_test_traced();
    ostrel_i_OSTREL_AZURE_debug_fwrite("raw", 1, 3);
    ostrel_i_OSTREL_AZURE_debug_handle.file = file;
    EXPECT_EQ(text(), "");
}

TEST_F(debug_output, failing_results_at_error_with_the_friendly_text)
{
    ostrel_i_OSTREL_AZURE_debug_handle.levels = OSTREL_AZURE_DEBUG_ERROR;
    ostrel_result_t result = ostrel_i_azure_system_error("malloc", 12);
    ostrel_i_azure_trace_result(result);
    ostrel_i_azure_trace_result(OSTREL_SUCCESS);
    std::string out = text();
    EXPECT_EQ(out.rfind("az: ERROR: TestBody: result=0x", 0), 0u) << out;
    EXPECT_NE(out.find("message=System error in malloc"), std::string::npos) << out;
    EXPECT_NE(ostrel_error_peek(result), nullptr); // peeked, not taken
    ostrel_object_free(ostrel_error_get(result));
}

} // namespace
