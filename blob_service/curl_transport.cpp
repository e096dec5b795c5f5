#include "blob_service/curl_transport.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>
#include <stdexcept>
#include <utility>

#include "blob_service/encoding.h"
#include "blob_service/header_line.h"

namespace azure::blob_service
{

namespace
{

// How long a transfer may crawl below the data rate, or wait for an answer, before it is
// abandoned and repeated: OSTREL_AZURE_STALL_SECONDS (1 to 600), default 60.
long stall_seconds()
{
    static const long seconds = [] {
        const char *text = getenv("OSTREL_AZURE_STALL_SECONDS");
        char *end = nullptr;
        long value = text != nullptr ? strtol(text, &end, 10) : 0;
        bool valid = text != nullptr && *text != '\0' && *end == '\0' && value >= 1 && value <= 600;
        return valid ? value : 60L;
    }();
    return seconds;
}

} // namespace

CurlEasyRequest::CurlEasyRequest(std::shared_ptr<CurlEasyClient> client, CURL *handle)
    : client_(std::move(client)), handle_(handle)
{
}

CurlEasyRequest::~CurlEasyRequest()
{
    curl_slist_free_all(slist_);
    client_->release_handle(handle_);
}

void CurlEasyRequest::add_header(const std::string &name, const std::string &value)
{
    request_headers_.emplace(name, value);
    std::string line = name + ": " + value;
    curl_slist *appended = curl_slist_append(slist_, line.c_str());
    if (!appended) {
        throw std::bad_alloc();
    }
    slist_ = appended;
}

std::string CurlEasyRequest::get_response_header(const std::string &name) const
{
    auto it = response_headers_.find(name);
    return it == response_headers_.end() ? std::string() : it->second;
}

void CurlEasyRequest::set_input_stream(storage_istream stream)
{
    input_stream_ = std::move(stream);
    input_read_ = 0;
}

void CurlEasyRequest::set_input_content_length(uint64_t length)
{
    input_content_length_ = length;
    input_length_known_ = true;
}

bool CurlEasyRequest::reset_input_stream()
{
    input_read_ = 0;
    return input_stream_.rewind();
}

void CurlEasyRequest::set_error_stream(std::function<bool(int)> switch_error,
                                       storage_iostream stream)
{
    switch_error_callback_ = std::move(switch_error);
    error_stream_ = std::move(stream);
}

void CurlEasyRequest::reset()
{
    request_headers_.clear();
    response_headers_.clear();
    curl_slist_free_all(slist_);
    slist_ = nullptr;
}

void CurlEasyRequest::set_absolute_timeout(long long seconds)
{
    absolute_timeout_ = seconds;
    data_rate_timeout_ = false;
}

void CurlEasyRequest::set_data_rate_timeout()
{
    absolute_timeout_ = 0;
    data_rate_timeout_ = true;
}

CURLcode CurlEasyRequest::perform()
{
    code_ = 0;
    requests_sent_ = 0;
    response_headers_.clear();
    header_bytes_ = 0;
    callback_exception_ = nullptr;
    // Until a success status arrives, a body is nobody's data.
    body_diverted_ = true;
    output_checked_ = false;
    output_written_ = 0;
    output_state_ = output_state::ok;

    // Set on every attempt: the handle starts each request from curl_easy_reset.
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CurlEasyRequest::header_callback);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
    // Always ours, so that an unexpected body never lands on the process's stdout and an
    // upload without a stream never reads stdin.
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlEasyRequest::write_callback);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle_, CURLOPT_READFUNCTION, &CurlEasyRequest::read_callback);
    curl_easy_setopt(handle_, CURLOPT_READDATA, this);
    curl_easy_setopt(handle_, CURLOPT_PREREQFUNCTION, &CurlEasyRequest::prereq_callback);
    curl_easy_setopt(handle_, CURLOPT_PREREQDATA, this);
    // The URL sent is the URL built: resolving "." and ".." would reach another blob.
    curl_easy_setopt(handle_, CURLOPT_PATH_AS_IS, 1L);

    curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, nullptr);
    switch (method_) {
    case http_method::del:
        curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, "DELETE");
        break;
    case http_method::get:
        curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
        break;
    case http_method::head:
        curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(handle_, CURLOPT_NOBODY, 1L);
        break;
    case http_method::post:
        curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, "POST");
        break;
    case http_method::put:
        curl_easy_setopt(handle_, CURLOPT_UPLOAD, 1L);
        break;
    case http_method::patch:
        curl_easy_setopt(handle_, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, "PATCH");
        break;
    }
    if (method_ == http_method::put || method_ == http_method::patch) {
        curl_off_t size = input_length_known_ ? static_cast<curl_off_t>(input_content_length_) : 0;
        if (!input_length_known_) {
            auto it = request_headers_.find("Content-Length");
            if (it != request_headers_.end()) {
                size = static_cast<curl_off_t>(strtoull(it->second.c_str(), nullptr, 10));
            }
        }
        curl_easy_setopt(handle_, CURLOPT_INFILESIZE_LARGE, size);
    }
    curl_easy_setopt(handle_, CURLOPT_URL, url_.c_str());

    // Suppress chunked uploads and the 100-continue round trip.
    for (const char *line : {"Transfer-Encoding:", "Expect:"}) {
        curl_slist *appended = curl_slist_append(slist_, line);
        if (!appended) {
            throw std::bad_alloc();
        }
        slist_ = appended;
    }
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, slist_);

    if (!client_->capath().empty()) {
        curl_easy_setopt(handle_, CURLOPT_CAINFO, client_->capath().c_str());
    }
    if (!client_->proxy().empty()) {
        curl_easy_setopt(handle_, CURLOPT_PROXY, client_->proxy().c_str());
    }

    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, static_cast<long>(absolute_timeout_));
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, data_rate_timeout_ ? stall_seconds() : 0L);
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, data_rate_timeout_ ? 17408L : 0L);

    CURLcode result = curl_easy_perform(handle_);
    if (callback_exception_) {
        std::rethrow_exception(std::exchange(callback_exception_, nullptr));
    }
    return result;
}

void CurlEasyRequest::submit(completion cb, std::chrono::milliseconds delay)
{
    if (delay.count() > 0) {
        struct timespec remaining = {static_cast<time_t>(delay.count() / 1000),
                                     static_cast<long>(delay.count() % 1000) * 1000000L};
        while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
        }
    }
    CURLcode result = perform();
    cb(code_, error_stream_.valid() ? error_stream_.input() : storage_istream(), result);
}

template <typename Work> size_t CurlEasyRequest::guarded(size_t failed, Work &&work) noexcept
{
    try {
        return work();
    } catch (...) {
        callback_exception_ = std::current_exception();
        return failed;
    }
}

size_t CurlEasyRequest::header_callback(char *data, size_t size, size_t count, void *userdata)
{
    auto *request = static_cast<CurlEasyRequest *>(userdata);
    return request->guarded(0, [&] { return request->handle_header_line(data, size * count); });
}

size_t CurlEasyRequest::handle_header_line(const char *data, size_t len)
{
    header_bytes_ += len;
    if (header_bytes_ > buffer_limit_) {
        output_state_ = output_state::too_large;
        return 0;
    }
    header_line line = parse_header_line(data, len);
    if (line.is_status) {
        // A new response: its headers and the choice of body destination are its own.
        code_ = line.status;
        response_headers_.clear();
        body_diverted_ =
            unsuccessful(code_) || (switch_error_callback_ && switch_error_callback_(code_));
        return len;
    }
    if (!line.name.empty()) {
        response_headers_[line.name] = std::move(line.value);
    }
    return len;
}

size_t CurlEasyRequest::write_callback(char *data, size_t size, size_t count, void *userdata)
{
    auto *request = static_cast<CurlEasyRequest *>(userdata);
    return request->guarded(0, [&] { return request->write_body(data, size * count); });
}

size_t CurlEasyRequest::write_body(const char *data, size_t len)
{
    if (body_diverted_) {
        if (!error_stream_.valid()) {
            return len;
        }
        std::ostream &os = error_stream_.output();
        if (os.fail()) {
            return 0;
        }
        if (static_cast<uint64_t>(os.tellp()) + len > buffer_limit_) {
            output_state_ = output_state::too_large;
            return 0;
        }
        os.write(data, static_cast<std::streamsize>(len));
        return os.fail() ? 0 : len;
    }
    if (!output_stream_.valid()) {
        return len;
    }
    if (output_state_ != output_state::ok) {
        return 0;
    }
    if (!output_checked_) {
        output_checked_ = true;
        if (output_check_ && !output_check_(*this)) {
            output_state_ = output_state::rejected;
            return 0;
        }
    }
    std::ostream &os = output_stream_.get();
    os.write(data, static_cast<std::streamsize>(len));
    // The stream cannot say how much of a failed write it kept, so the whole chunk counts
    // as undelivered and the transfer stops here.
    if (os.fail()) {
        output_state_ = output_state::sink_failed;
        return 0;
    }
    output_written_ += len;
    return len;
}

size_t CurlEasyRequest::read_callback(char *data, size_t size, size_t count, void *userdata)
{
    auto *request = static_cast<CurlEasyRequest *>(userdata);
    return request->guarded(CURL_READFUNC_ABORT,
                            [&] { return request->read_body(data, size * count); });
}

int CurlEasyRequest::prereq_callback(void *userdata, char *, char *, int, int)
{
    ++static_cast<CurlEasyRequest *>(userdata)->requests_sent_;
    return CURL_PREREQFUNC_OK;
}

size_t CurlEasyRequest::read_body(char *data, size_t len)
{
    if (!input_stream_.valid()) {
        return 0;
    }
    std::istream &is = input_stream_.get();
    if (is.fail()) {
        return CURL_READFUNC_ABORT;
    }
    uint64_t remaining;
    if (input_length_known_) {
        remaining = input_content_length_ - input_read_;
    } else {
        auto here = is.tellg();
        is.seekg(0, std::ios::end);
        auto end = is.tellg();
        is.seekg(here);
        if (here == std::istream::pos_type(-1) || end == std::istream::pos_type(-1) || is.fail()) {
            return CURL_READFUNC_ABORT;
        }
        remaining = static_cast<uint64_t>(end - here);
    }
    size_t want = remaining < len ? static_cast<size_t>(remaining) : len;
    if (want == 0) {
        return 0;
    }
    is.read(data, static_cast<std::streamsize>(want));
    if (is.fail() || is.bad()) {
        return CURL_READFUNC_ABORT;
    }
    input_read_ += want;
    return want;
}

CurlEasyClient::CurlEasyClient(int size, std::string capath, std::string proxy)
    : size_(size), capath_(std::move(capath)), proxy_(std::move(proxy))
{
    if (size < 1) {
        throw std::invalid_argument("CurlEasyClient needs at least one handle");
    }
    curl_global_init(CURL_GLOBAL_ALL);
    for (int i = 0; i < size; ++i) {
        CURL *handle = curl_easy_init();
        if (!handle) {
            for (CURL *h : handles_) {
                curl_easy_cleanup(h);
            }
            curl_global_cleanup();
            throw std::bad_alloc();
        }
        handles_.push_back(handle);
    }
}

CurlEasyClient::~CurlEasyClient()
{
    for (CURL *handle : handles_) {
        curl_easy_cleanup(handle);
    }
    curl_global_cleanup();
}

std::shared_ptr<CurlEasyRequest> CurlEasyClient::get_handle()
{
    std::shared_ptr<CurlEasyClient> self = shared_from_this();
    std::unique_lock<std::mutex> lock(mutex_);
    available_.wait(lock, [this] { return !handles_.empty(); });
    CURL *handle = handles_.front();
    handles_.pop_front();
    lock.unlock();
    try {
        return std::make_shared<CurlEasyRequest>(std::move(self), handle);
    } catch (...) {
        release_handle(handle);
        throw;
    }
}

void CurlEasyClient::release_handle(CURL *handle)
{
    curl_easy_reset(handle);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handles_.push_back(handle);
    }
    available_.notify_one();
}

} // namespace azure::blob_service
