/*
 * Stream buffers between the blob client's streams and the caller's data callbacks. Neither
 * can seek: bytes handed to or taken from a callback cannot be taken back.
 */
#ifndef OSTREL_AZ_STREAMS_H
#define OSTREL_AZ_STREAMS_H

#include <cstdint>
#include <streambuf>

#include "az/az.h"
#include "az/md5_digest.h"

namespace ostrel_az
{

// Download sink: every chunk goes straight to the data callback. Once the callback takes
// less than it was given, nothing more is passed to it.
class stream_callback final : public std::streambuf
{
  public:
    stream_callback(AZ_get_data_callback data, void *arg) : data_(data), arg_(arg) {}

    bool refused() const { return refused_; }

  protected:
    std::streamsize xsputn(const char *s, std::streamsize count) override;
    int_type overflow(int_type c) override;

  private:
    AZ_get_data_callback data_;
    void *arg_;
    bool refused_ = false;
};

// Upload source over a staging buffer that the data callback fills. Keeps its own read
// window rather than the base class's get area.
class istream_callback final : public std::streambuf
{
  public:
    enum class failure {
        none,
        callback_failed, // the callback returned a negative count
        ended_early,     // the callback returned 0 before the declared size
        overrun          // the callback claimed more bytes than it was asked for
    };

    istream_callback(unsigned char *buffer, size_t capacity, uint64_t size,
                     AZ_put_data_callback data, void *arg);

    failure failed() const { return failure_; }
    // Bytes of the declared size not yet taken from the callback.
    uint64_t remaining() const { return remaining_; }
    // Every byte taken from the callback from now on is fed to `digest` (not owned), once
    // and in order, whether or not a request sends it.
    void set_digest(md5_digest *digest) { digest_ = digest; }

  protected:
    std::streamsize showmanyc() override;
    std::streamsize xsgetn(char *s, std::streamsize count) override;
    int_type underflow() override;
    int_type uflow() override;
    int_type pbackfail(int_type c) override;

  private:
    // Asks the callback for up to `room` bytes into `to`; 0 once it failed or the size is in.
    size_t fetch(unsigned char *to, uint64_t room);
    bool refill();

    unsigned char *window_begin_;
    unsigned char *window_end_;
    unsigned char *read_;
    unsigned char *buffer_;
    size_t capacity_;
    uint64_t remaining_;
    AZ_put_data_callback data_;
    void *arg_;
    failure failure_ = failure::none;
    md5_digest *digest_ = nullptr;
};

// A read-only stream buffer over bytes held in memory, which, unlike the callback streams,
// can seek: a request that failed is sent again from it byte for byte.
class memory_istream_buf final : public std::streambuf
{
  public:
    memory_istream_buf(const unsigned char *data, size_t length);

  protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
};

} // namespace ostrel_az

#endif
