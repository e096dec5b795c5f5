// An http_base that only records what builders and credentials write into it, for
// checking request formats without a network. Integration tests use the real transport.
#pragma once

#include <string>

#include "blob_service/http_base.h"

namespace ostrel_test
{

class recording_http final : public azure::blob_service::http_base
{
  public:
    using http_method = azure::blob_service::http_method;

    long long absolute_timeout = -1;
    bool data_rate_timeout = false;

    void set_method(http_method m) override { method_ = m; }
    http_method get_method() const override { return method_; }
    void set_url(const std::string &url) override { url_ = url; }
    std::string get_url() const override { return url_; }
    void add_header(const std::string &name, const std::string &value) override
    {
        request_headers_.emplace(name, value);
    }
    const azure::blob_service::header_map &get_request_headers() const override
    {
        return request_headers_;
    }
    std::string get_response_header(const std::string &) const override { return {}; }
    const azure::blob_service::header_map &get_response_headers() const override
    {
        return response_headers_;
    }
    CURLcode perform() override { return CURLE_UNSUPPORTED_PROTOCOL; }
    void submit(completion, std::chrono::milliseconds) override {}
    void reset() override { request_headers_.clear(); }
    int status_code() const override { return 0; }
    int requests_sent() const override { return 0; }
    void set_input_stream(azure::blob_service::storage_istream) override {}
    void set_input_content_length(uint64_t) override {}
    bool reset_input_stream() override { return true; }
    void set_output_stream(azure::blob_service::storage_ostream) override {}
    void set_output_check(output_check) override {}
    uint64_t output_written() const override { return 0; }
    azure::blob_service::output_state get_output_state() const override
    {
        return azure::blob_service::output_state::ok;
    }
    void set_buffer_limit(uint64_t) override {}
    void set_error_stream(std::function<bool(int)>, azure::blob_service::storage_iostream) override
    {
    }
    azure::blob_service::storage_istream get_input_stream() const override { return {}; }
    azure::blob_service::storage_ostream get_output_stream() const override { return {}; }
    azure::blob_service::storage_iostream get_error_stream() const override { return {}; }
    void set_absolute_timeout(long long seconds) override
    {
        absolute_timeout = seconds;
        data_rate_timeout = false;
    }
    void set_data_rate_timeout() override
    {
        data_rate_timeout = true;
        absolute_timeout = -1;
    }

    std::string header(const std::string &name) const
    {
        auto found = request_headers_.find(name);
        return found == request_headers_.end() ? std::string() : found->second;
    }

  private:
    http_method method_ = http_method::get;
    std::string url_;
    azure::blob_service::header_map request_headers_;
    azure::blob_service::header_map response_headers_;
};

} // namespace ostrel_test
