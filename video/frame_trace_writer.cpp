#include "video/frame_trace_writer.h"

#include <spdlog/spdlog.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/thread_name.h"

namespace nb {

std::unique_ptr<FrameTraceWriter> FrameTraceWriter::open(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        spdlog::error("FrameTrace: cannot create {}: {}", path, std::strerror(errno));
        return nullptr;
    }
    auto writer = std::make_unique<FrameTraceWriter>(Key{}, path, file);
    spdlog::info("FrameTrace: writing per-frame times to {}", path);
    return writer;
}

FrameTraceWriter::FrameTraceWriter(Key, std::string path, std::FILE* file) : path_(std::move(path)), file_(file) {
    std::fprintf(file_, "%s\n", k_header);
    pending_.reserve(k_max_pending);
    thread_ = std::thread([this] { body(); });
}

FrameTraceWriter::~FrameTraceWriter() { stop(); }

void FrameTraceWriter::on_frame_timing(const FrameTiming& timing) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (pending_.size() >= k_max_pending) {
            ++dropped_;
            return;
        }
        pending_.push_back(timing);
        wake = pending_.size() == k_batch;
    }
    if (wake) wake_.notify_one();
}

void FrameTraceWriter::body() {
    name_this_thread("nb-trace");
    // Swapped with pending_, so both keep their capacity and the video
    // thread's appends never allocate after the first batches.
    std::vector<FrameTiming> batch;
    batch.reserve(k_max_pending);
    bool done = false;
    while (!done) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(k_flush_ms),
                           [this] { return stopping_ || pending_.size() >= k_batch; });
            done = stopping_;
            batch.swap(pending_);
        }
        try {
            write_batch(batch);
        } catch (const std::exception& e) {
            spdlog::error("FrameTrace: writer exception: {}", e.what());
        }
        batch.clear();
    }
}

void FrameTraceWriter::write_batch(const std::vector<FrameTiming>& batch) {
    if (batch.empty() || write_failed_) return;
    for (const FrameTiming& t : batch) {
        // A frame decoded behind a newer one was never drawn: no times for it.
        if (t.presented_us != 0) {
            std::fprintf(file_, "%u,%lld,%lld,%lld,%lld,%lld,%lld,%lld\n", t.frame_id,
                         static_cast<long long>(t.first_packet_us), static_cast<long long>(t.last_packet_us),
                         static_cast<long long>(t.queued_us), static_cast<long long>(t.decode_start_us),
                         static_cast<long long>(t.decoded_us), static_cast<long long>(t.drawn_us),
                         static_cast<long long>(t.presented_us));
        } else {
            std::fprintf(file_, "%u,%lld,%lld,%lld,%lld,%lld,,\n", t.frame_id,
                         static_cast<long long>(t.first_packet_us), static_cast<long long>(t.last_packet_us),
                         static_cast<long long>(t.queued_us), static_cast<long long>(t.decode_start_us),
                         static_cast<long long>(t.decoded_us));
        }
    }
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
        spdlog::error("FrameTrace: writing {} failed: {}; no more lines are written", path_, std::strerror(errno));
        write_failed_ = true;
        return;
    }
    written_ += batch.size();
}

void FrameTraceWriter::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    std::fclose(file_);
    uint64_t dropped = 0;
    {
        std::lock_guard lock(mutex_);
        dropped = dropped_;
    }
    spdlog::info("FrameTrace: {} frames written to {} ({} dropped while the disk was behind)", written_, path_,
                 dropped);
}

}  // namespace nb
