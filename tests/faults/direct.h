// Requests straight to the emulator with libcurl, never through the product:
// how the matrix prepares blobs and looks at what an operation left behind.
#ifndef OSTREL_TESTS_FAULTS_DIRECT_H
#define OSTREL_TESTS_FAULTS_DIRECT_H

#include <optional>
#include <string>

#include "test_support.h"

namespace ostrel_faults
{

struct answer {
    long status = 0; // 0 when no answer came
    std::string body;
    std::string headers; // raw header block
};

class direct
{
  public:
    explicit direct(const ostrel_test::emulator &emu);
    void point_at(const ostrel_test::emulator &emu) { emu_ = emu; }

    // extra_headers: "Name: value" lines joined by '\n'
    answer send(const std::string &method, const std::string &path, const std::string &body = "",
                const std::string &extra_headers = "");

    void create_container(const std::string &container);
    void put_blob(const std::string &container, const std::string &name, const std::string &data);
    void put_marker(const std::string &container, const std::string &dir);
    // nullopt when the blob does not exist
    std::optional<std::string> blob(const std::string &container, const std::string &name);
    bool is_marker(const std::string &container, const std::string &name);
    bool container_exists(const std::string &container);

  private:
    ostrel_test::emulator emu_;
    std::string token_;
};

} // namespace ostrel_faults

#endif
