// Writes one CSV line per frame the video thread took up, with the times of
// each stage, for latency analysis (NUBORA_FRAME_TRACE=path). The video
// thread only appends to a buffer; a thread of its own writes it out in
// batches, so a slow disk never delays a picture.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "video/frame_timing.h"

namespace nb {

class FrameTraceWriter final : public IFrameTimingSink {
public:
    // The columns, in the order every line gives them; monotonic clock, µs.
    // drawn_us and presented_us are empty for a frame decoded but not drawn.
    static constexpr const char* k_header =
        "frame_id,first_packet_us,last_packet_us,assembled_us,decode_start_us,decode_end_us,drawn_us,presented_us";
    // Frames waiting for the disk before new ones are dropped (counted): a
    // minute at 60 fps, a few hundred kilobytes.
    static constexpr size_t k_max_pending = 4096;
    // Lines are written once this many are waiting, or after k_flush_ms.
    static constexpr size_t k_batch = 120;
    static constexpr int k_flush_ms = 1000;

    // Creates the file (truncating it) and starts the writer; null, with the
    // cause logged, when the file cannot be created.
    static std::unique_ptr<FrameTraceWriter> open(const std::string& path);
    // Only open() has the key.
    class Key {
        friend class FrameTraceWriter;
        Key() = default;
    };
    FrameTraceWriter(Key, std::string path, std::FILE* file);
    ~FrameTraceWriter() override;
    FrameTraceWriter(const FrameTraceWriter&) = delete;
    FrameTraceWriter& operator=(const FrameTraceWriter&) = delete;

    // Video thread; never waits for the disk.
    void on_frame_timing(const FrameTiming& timing) override;
    // Writes what is waiting, closes the file and logs a summary. Idempotent.
    void stop();

    uint64_t frames_written() const { return written_; }

private:
    void body();
    void write_batch(const std::vector<FrameTiming>& batch);

    const std::string path_;
    std::FILE* file_;  // writer thread only, then stop()

    // Guards pending_, dropped_ and stopping_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<FrameTiming> pending_;
    uint64_t dropped_ = 0;
    bool stopping_ = false;

    uint64_t written_ = 0;  // writer thread only, read after join
    bool write_failed_ = false;
    std::thread thread_;
};

}  // namespace nb
