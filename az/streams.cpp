#include "az/streams.h"

#include <algorithm>
#include <cstring>

namespace ostrel_az
{

std::streamsize stream_callback::xsputn(const char *s, std::streamsize count)
{
    std::streamsize done = 0;
    while (done < count && !refused_) {
        auto chunk = static_cast<int32_t>(std::min<std::streamsize>(count - done, INT32_MAX));
        int32_t taken = data_(chunk, reinterpret_cast<const unsigned char *>(s + done), arg_);
        if (taken != chunk) {
            refused_ = true;
            break;
        }
        done += chunk;
    }
    return done;
}

stream_callback::int_type stream_callback::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    if (refused_) {
        return traits_type::eof();
    }
    unsigned char byte = static_cast<unsigned char>(traits_type::to_char_type(c));
    // Anything but 1 must read as a failed write, or a refused byte would count as written.
    if (data_(1, &byte, arg_) != 1) {
        refused_ = true;
        return traits_type::eof();
    }
    return c;
}

istream_callback::istream_callback(unsigned char *buffer, size_t capacity, uint64_t size,
                                   AZ_put_data_callback data, void *arg)
    : window_begin_(buffer + capacity), window_end_(buffer + capacity), read_(buffer + capacity),
      buffer_(buffer), capacity_(capacity), remaining_(size), data_(data), arg_(arg)
{
}

std::streamsize istream_callback::showmanyc()
{
    return static_cast<std::streamsize>((window_end_ - read_) + remaining_);
}

size_t istream_callback::fetch(unsigned char *to, uint64_t room)
{
    // After a failure the callback is not asked again.
    if (failure_ != failure::none || remaining_ == 0 || room == 0) {
        return 0;
    }
    auto ask = static_cast<int32_t>(std::min<uint64_t>({remaining_, room, capacity_, INT32_MAX}));
    int32_t got = data_(ask, to, arg_);
    if (got < 0) {
        failure_ = failure::callback_failed;
        return 0;
    }
    if (got == 0) {
        failure_ = failure::ended_early;
        return 0;
    }
    if (got > ask) {
        failure_ = failure::overrun;
        return 0;
    }
    if (digest_ != nullptr) {
        digest_->update(to, static_cast<size_t>(got));
    }
    remaining_ -= static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
}

bool istream_callback::refill()
{
    size_t got = fetch(buffer_, capacity_);
    if (got == 0) {
        return false;
    }
    window_begin_ = buffer_;
    read_ = buffer_;
    window_end_ = buffer_ + got;
    return true;
}

std::streamsize istream_callback::xsgetn(char *s, std::streamsize count)
{
    // A read this large goes straight from the callback to the caller: one copy fewer.
    const auto direct = static_cast<std::streamsize>(std::min<size_t>(capacity_, 16384));
    std::streamsize done = 0;
    while (done < count) {
        if (read_ == window_end_ && count - done >= direct && direct > 0) {
            size_t got = fetch(reinterpret_cast<unsigned char *>(s + done),
                               static_cast<uint64_t>(count - done));
            if (got == 0) {
                break;
            }
            // what went past the window cannot be put back into it
            window_begin_ = read_;
            done += static_cast<std::streamsize>(got);
            continue;
        }
        if (read_ == window_end_ && !refill()) {
            break;
        }
        auto n = std::min<std::streamsize>(count - done, window_end_ - read_);
        memcpy(s + done, read_, static_cast<size_t>(n));
        read_ += n;
        done += n;
    }
    return done;
}

istream_callback::int_type istream_callback::underflow()
{
    if (read_ == window_end_ && !refill()) {
        return traits_type::eof();
    }
    return traits_type::to_int_type(static_cast<char>(*read_));
}

istream_callback::int_type istream_callback::uflow()
{
    int_type c = underflow();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        read_++;
    }
    return c;
}

istream_callback::int_type istream_callback::pbackfail(int_type c)
{
    if (read_ == window_begin_) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof()) &&
        !traits_type::eq(traits_type::to_char_type(c), static_cast<char>(read_[-1]))) {
        return traits_type::eof();
    }
    read_--;
    return traits_type::to_int_type(static_cast<char>(*read_));
}

memory_istream_buf::memory_istream_buf(const unsigned char *data, size_t length)
{
    // The get area is only read from; std::streambuf wants it non-const.
    char *begin = const_cast<char *>(reinterpret_cast<const char *>(data));
    setg(begin, begin, begin + length);
}

memory_istream_buf::pos_type memory_istream_buf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                         std::ios_base::openmode which)
{
    if ((which & std::ios_base::in) == 0) {
        return pos_type(off_type(-1));
    }
    off_type base = dir == std::ios_base::beg   ? 0
                    : dir == std::ios_base::cur ? gptr() - eback()
                                                : egptr() - eback();
    if (off < -base || off > (egptr() - eback()) - base) {
        return pos_type(off_type(-1));
    }
    setg(eback(), eback() + base + off, egptr());
    return pos_type(base + off);
}

memory_istream_buf::pos_type memory_istream_buf::seekpos(pos_type pos,
                                                         std::ios_base::openmode which)
{
    return seekoff(off_type(pos), std::ios_base::beg, which);
}

} // namespace ostrel_az
