/*
 * Uploads staged in memory: every request's body is held until its answer came, so the
 * blob client can send it again byte for byte. Blocks are read from the data callback on
 * the calling thread, in order, and sent by up to upload_parallel threads at once.
 */
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "az/md5_digest.h"
#include "az/put_blob.h"
#include "az/upload_plan.h"

namespace bs = azure::blob_service;
using ostrel_az::az_result;
using ostrel_az::istream_callback;
using ostrel_az::put_blob_job;

constexpr uint64_t ostrel_l_az_staged_window_size = 4194304; // 4 MiB asked of the callback

// The threads that send the staged blocks of one upload, and the buffers they send from.
class ostrel_l_az_block_senders
{
  public:
    ostrel_l_az_block_senders(const put_blob_job &job, size_t block_size, int parallel)
        : job_(job), block_size_(block_size), max_buffers_(static_cast<size_t>(parallel) + 1)
    {
        try {
            for (int i = 0; i < parallel; i++) {
                threads_.emplace_back([this] { run(); });
            }
        } catch (...) {
            join();
            throw;
        }
    }
    // Left early (by an exception), the upload sends nothing more.
    ~ostrel_l_az_block_senders()
    {
        abandon();
        join();
    }
    ostrel_l_az_block_senders(const ostrel_l_az_block_senders &) = delete;
    ostrel_l_az_block_senders &operator=(const ostrel_l_az_block_senders &) = delete;

    // A buffer of block_size bytes to stage the next block in; waits while every buffer is
    // staged or in flight. nullptr once a block failed: nothing more is worth staging.
    unsigned char *take_buffer();
    // Hands a staged block to the senders.
    void send(unsigned char *buffer, size_t length, const std::string &id);
    // Blocks handed over and not yet sent are dropped.
    void abandon();
    // Waits until every block handed over was sent or given up; rethrows what a sender
    // threw. Then failed() and error() tell the outcome.
    void finish();
    bool failed() const { return failed_; }
    const bs::storage_error &error() const { return error_; }

  private:
    struct staged {
        unsigned char *buffer;
        size_t length;
        std::string id;
    };

    void run();
    void send_one(const staged &block);
    void join();

    const put_blob_job &job_;
    size_t block_size_;
    size_t max_buffers_;
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;
    std::vector<unsigned char *> free_;
    std::deque<staged> queue_;
    bool closing_ = false;
    bool abandoned_ = false;
    bool failed_ = false;
    bs::storage_error error_;
    std::exception_ptr exception_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable freed_;
    std::vector<std::thread> threads_;
};

unsigned char *ostrel_l_az_block_senders::take_buffer()
{
    std::unique_lock<std::mutex> lock(mutex_);
    freed_.wait(lock,
                [this] { return failed_ || !free_.empty() || buffers_.size() < max_buffers_; });
    if (failed_) {
        return nullptr;
    }
    if (!free_.empty()) {
        unsigned char *buffer = free_.back();
        free_.pop_back();
        return buffer;
    }
    // Not zero-filled: staging overwrites what is sent.
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[block_size_]);
    buffers_.push_back(std::move(buffer));
    return buffers_.back().get();
}

void ostrel_l_az_block_senders::send(unsigned char *buffer, size_t length, const std::string &id)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({buffer, length, id});
    }
    queued_.notify_one();
}

void ostrel_l_az_block_senders::send_one(const staged &block)
{
    bs::storage_error error;
    bool ok = false;
    try {
        ostrel_az::memory_istream_buf bytes(block.buffer, block.length);
        std::istream is(&bytes);
        auto outcome =
            job_.client.blob
                ->upload_block_from_stream(job_.container, job_.key, block.id, is, block.length)
                .get();
        ok = outcome.success();
        if (!ok) {
            error = outcome.error();
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failed_) {
            failed_ = true;
            exception_ = std::current_exception();
        }
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok && !failed_) {
        failed_ = true;
        error_ = std::move(error);
    }
}

void ostrel_l_az_block_senders::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        staged block = std::move(queue_.front());
        queue_.pop_front();
        // After a failure no block is sent: the blob will not be committed.
        if (!failed_ && !abandoned_) {
            lock.unlock();
            send_one(block);
            lock.lock();
        }
        free_.push_back(block.buffer);
        freed_.notify_all();
    }
}

void ostrel_l_az_block_senders::join()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    queued_.notify_all();
    for (auto &thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

void ostrel_l_az_block_senders::abandon()
{
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
}

void ostrel_l_az_block_senders::finish()
{
    join();
    if (exception_) {
        std::rethrow_exception(exception_);
    }
}

// Reads the next `length` bytes of the upload into `buffer`; false when the source failed.
static bool ostrel_l_az_stage(istream_callback &source, unsigned char *buffer, size_t length,
                              uint64_t size, az_result &result)
{
    auto got = source.sgetn(reinterpret_cast<char *>(buffer), static_cast<std::streamsize>(length));
    if (got == static_cast<std::streamsize>(length)) {
        return true;
    }
    if (!ostrel_az::put_blob_source_failed(source, size, result)) {
        result.set_local(AZ_AbortedByCallback, "the data ended early");
    }
    return false;
}

static void ostrel_l_az_put_blob_staged_single(const put_blob_job &job, istream_callback &source,
                                               std::optional<ostrel_az::md5_digest> &digest,
                                               bs::blob_version &version, az_result &result)
{
    std::vector<unsigned char> staged(static_cast<size_t>(job.size));
    if (!ostrel_l_az_stage(source, staged.data(), staged.size(), job.size, result)) {
        return;
    }
    ostrel_az::memory_istream_buf bytes(staged.data(), staged.size());
    std::istream is(&bytes);
    std::string md5 = ostrel_az::put_blob_finish_digest(digest);
    auto outcome = job.client.blob
                       ->upload_block_blob_from_stream(job.container, job.key, is, job.metadata,
                                                       job.size, job.conditions, &version, md5)
                       .get();
    version.content_md5 = md5;
    result.take_outcome(outcome);
}

// Blocks are staged without conditions: only the commit decides what the key holds.
static void ostrel_l_az_put_blob_staged_blocks(const put_blob_job &job, uint64_t block_size,
                                               istream_callback &source,
                                               std::optional<ostrel_az::md5_digest> &digest,
                                               bs::blob_version &version, az_result &result)
{
    ostrel_az::block_list blocks =
        ostrel_az::put_blob_block_list(ostrel_az::block_count(job.size, block_size));
    {
        ostrel_l_az_block_senders senders(job, static_cast<size_t>(block_size),
                                          job.client.upload_parallel);
        uint64_t left = job.size;
        for (const auto &block : blocks) {
            unsigned char *buffer = senders.take_buffer();
            if (buffer == nullptr) {
                break;
            }
            auto length = static_cast<size_t>(std::min(left, block_size));
            if (!ostrel_l_az_stage(source, buffer, length, job.size, result)) {
                senders.abandon();
                senders.finish();
                return;
            }
            ostrel_az::put_blob_refresh(job.client);
            senders.send(buffer, length, block.id);
            left -= length;
        }
        senders.finish();
        if (senders.failed()) {
            result.take_error(senders.error());
            return;
        }
    }

    ostrel_az::put_blob_commit(job, blocks, ostrel_az::put_blob_finish_digest(digest), version,
                               result);
}

void ostrel_az::put_blob_staged(const put_blob_job &job, bs::blob_version &version,
                                az_result &result)
{
    uint64_t block_size = staged_block_size(job.size, job.client.upload_block_size);
    if (block_size == 0) {
        put_blob_too_many_blocks(job.size, result);
        return;
    }
    std::optional<md5_digest> digest = put_blob_digest(job.client);
    auto capacity = static_cast<size_t>(std::min(job.size, ostrel_l_az_staged_window_size));
    // Not zero-filled: staging reads go past it straight into the blocks.
    std::unique_ptr<unsigned char[]> window(new unsigned char[capacity]);
    istream_callback source(window.get(), capacity, job.size, job.data, job.arg);
    source.set_digest(digest ? &*digest : nullptr);

    // One block's worth goes whole in one request, as a streamed upload does up to its limit.
    if (job.size <= std::min(single_request_limit, block_size)) {
        ostrel_l_az_put_blob_staged_single(job, source, digest, version, result);
    } else {
        ostrel_l_az_put_blob_staged_blocks(job, block_size, source, digest, version, result);
    }
}
