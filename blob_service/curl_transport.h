#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include <curl/curl.h>

#include "blob_service/http_base.h"

namespace azure::blob_service
{

class CurlEasyClient;

// One attempt-at-a-time HTTP request over a pooled easy handle. The handle goes back to the
// pool when the request is destroyed.
class CurlEasyRequest final : public http_base
{
  public:
    CurlEasyRequest(std::shared_ptr<CurlEasyClient> client, CURL *handle);
    ~CurlEasyRequest() override;
    CurlEasyRequest(const CurlEasyRequest &) = delete;
    CurlEasyRequest &operator=(const CurlEasyRequest &) = delete;

    void set_method(http_method method) override { method_ = method; }
    http_method get_method() const override { return method_; }
    void set_url(const std::string &url) override { url_ = url; }
    std::string get_url() const override { return url_; }
    void add_header(const std::string &name, const std::string &value) override;
    const header_map &get_request_headers() const override { return request_headers_; }
    std::string get_response_header(const std::string &name) const override;
    const header_map &get_response_headers() const override { return response_headers_; }

    CURLcode perform() override;
    void submit(completion cb, std::chrono::milliseconds delay) override;
    void reset() override;
    int status_code() const override { return code_; }
    int requests_sent() const override { return requests_sent_; }

    void set_input_stream(storage_istream stream) override;
    void set_input_content_length(uint64_t length) override;
    bool reset_input_stream() override;
    void set_output_stream(storage_ostream stream) override { output_stream_ = std::move(stream); }
    void set_output_check(output_check check) override { output_check_ = std::move(check); }
    uint64_t output_written() const override { return output_written_; }
    output_state get_output_state() const override { return output_state_; }
    void set_error_stream(std::function<bool(int)> switch_error, storage_iostream stream) override;
    void set_buffer_limit(uint64_t bytes) override { buffer_limit_ = bytes; }
    storage_istream get_input_stream() const override { return input_stream_; }
    storage_ostream get_output_stream() const override { return output_stream_; }
    storage_iostream get_error_stream() const override { return error_stream_; }

    void set_absolute_timeout(long long seconds) override;
    void set_data_rate_timeout() override;

  private:
    static size_t header_callback(char *data, size_t size, size_t count, void *userdata);
    static size_t write_callback(char *data, size_t size, size_t count, void *userdata);
    static size_t read_callback(char *data, size_t size, size_t count, void *userdata);
    static int prereq_callback(void *userdata, char *, char *, int, int);

    // Runs a callback's work; an exception is kept for perform() to rethrow, and `failed`
    // is returned so libcurl ends the transfer instead of unwinding through C code.
    template <typename Work> size_t guarded(size_t failed, Work &&work) noexcept;

    size_t handle_header_line(const char *data, size_t len);
    size_t write_body(const char *data, size_t len);
    size_t read_body(char *data, size_t len);

    std::shared_ptr<CurlEasyClient> client_;
    CURL *handle_;
    curl_slist *slist_ = nullptr;
    header_map request_headers_;
    http_method method_ = http_method::get;
    std::string url_;
    storage_istream input_stream_;
    storage_ostream output_stream_;
    storage_iostream error_stream_;
    uint64_t input_content_length_ = 0;
    uint64_t input_read_ = 0;
    bool input_length_known_ = false;
    std::function<bool(int)> switch_error_callback_;
    output_check output_check_;
    int code_ = 0;
    int requests_sent_ = 0;
    header_map response_headers_;
    uint64_t header_bytes_ = 0;
    uint64_t buffer_limit_ = UINT64_MAX;
    std::exception_ptr callback_exception_;
    bool body_diverted_ = true;
    bool output_checked_ = false;
    uint64_t output_written_ = 0;
    output_state output_state_ = output_state::ok;
    long long absolute_timeout_ = 0;
    bool data_rate_timeout_ = false;
};

// A fixed pool of easy handles shared by all requests of one blob client.
class CurlEasyClient : public std::enable_shared_from_this<CurlEasyClient>
{
  public:
    // `capath` is a CA bundle file for peer verification and `proxy` a libcurl proxy string;
    // empty means libcurl's default. Peer verification itself is never switched off.
    explicit CurlEasyClient(int size, std::string capath = {}, std::string proxy = {});
    ~CurlEasyClient();
    CurlEasyClient(const CurlEasyClient &) = delete;
    CurlEasyClient &operator=(const CurlEasyClient &) = delete;

    // Blocks while every handle is in use. Throws std::bad_weak_ptr unless the pool is owned
    // by a shared_ptr.
    std::shared_ptr<CurlEasyRequest> get_handle();

    int size() const { return size_; }
    const std::string &capath() const { return capath_; }
    const std::string &proxy() const { return proxy_; }

  private:
    friend class CurlEasyRequest;
    void release_handle(CURL *handle);

    int size_;
    std::string capath_;
    std::string proxy_;
    std::deque<CURL *> handles_;
    std::mutex mutex_;
    std::condition_variable available_;
};

} // namespace azure::blob_service
