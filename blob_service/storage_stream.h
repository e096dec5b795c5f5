#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

namespace azure::blob_service
{

// A stream handed to a request, with the position it had when handed over. A wrapper made
// from a reference does not own the stream; the caller keeps it alive for the request.
template <typename Stream> class storage_stream_ref
{
  public:
    storage_stream_ref() = default;
    explicit storage_stream_ref(Stream &s) : stream_(&s, [](Stream *) {}) { record(); }
    explicit storage_stream_ref(std::shared_ptr<Stream> s) : stream_(std::move(s)) { record(); }

    bool valid() const { return stream_ != nullptr; }
    Stream &get() const { return *stream_; }

    // Seeks back to the recorded position; false when the stream cannot seek (its state is
    // then left failed, so nothing more is read from or written to it).
    bool rewind() const;

  private:
    void record();
    void seek() const;

    std::shared_ptr<Stream> stream_;
    typename Stream::pos_type position_ = typename Stream::pos_type(-1);
};

using storage_istream = storage_stream_ref<std::istream>;
using storage_ostream = storage_stream_ref<std::ostream>;

template <> inline void storage_istream::record()
{
    position_ = stream_->tellg();
}

template <> inline void storage_ostream::record()
{
    position_ = stream_->tellp();
}

template <> inline void storage_istream::seek() const
{
    stream_->seekg(position_);
}

template <> inline void storage_ostream::seek() const
{
    stream_->seekp(position_);
}

template <typename Stream> bool storage_stream_ref<Stream>::rewind() const
{
    if (!stream_) {
        return true;
    }
    if (position_ == typename Stream::pos_type(-1)) {
        stream_->setstate(std::ios::failbit);
        return false;
    }
    stream_->clear();
    seek();
    return !stream_->fail();
}

// One owned buffer written by the transport and read back by the executor; it collects
// bodies that are parsed rather than handed to the caller (errors, listings).
class storage_iostream
{
  public:
    static storage_iostream create_storage_stream()
    {
        storage_iostream s;
        s.buffer_ = std::make_shared<std::stringstream>();
        return s;
    }

    bool valid() const { return buffer_ != nullptr; }
    std::ostream &output() const { return *buffer_; }
    storage_istream input() const
    {
        return storage_istream(std::shared_ptr<std::istream>(buffer_));
    }
    std::string str() const { return buffer_ ? buffer_->str() : std::string(); }

  private:
    std::shared_ptr<std::stringstream> buffer_;
};

} // namespace azure::blob_service
