// A decoder and a renderer behind their interfaces that record what the
// video thread asks of them, and on which thread, without a GPU or codec.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "video/renderer.h"
#include "video/video_decoder.h"

namespace nb::test {

// What both fakes saw, shared with the test after the parts moved into the thread.
struct VideoCalls {
    std::mutex mutex;  // guards everything below
    std::vector<uint32_t> decoded_ids;
    std::vector<bool> decoded_keys;
    std::vector<std::thread::id> threads;  // every decoder and renderer call
    size_t pictures_drawn = 0;
    size_t redraws = 0;  // restore_snapshot or clear, then present
    size_t presents = 0;
    std::vector<std::pair<uint32_t, uint32_t>> resizes;
    std::function<void()> on_decode;  // runs inside each decode, outside the lock

    void note_thread() { threads.push_back(std::this_thread::get_id()); }
};

class FakeDecoder final : public IVideoDecoder {
public:
    explicit FakeDecoder(VideoCalls& calls, bool fail_initialize = false)
        : calls_(calls), fail_initialize_(fail_initialize) {
        picture_.width = 64;
        picture_.height = 36;
    }
    bool initialize(VideoCodec, uint32_t, uint32_t) override {
        std::lock_guard lock(calls_.mutex);
        calls_.note_thread();
        return !fail_initialize_;
    }
    DecodedFrame decode(const uint8_t*, size_t, uint32_t frame_id, bool keyframe) override {
        std::function<void()> hook;
        {
            std::lock_guard lock(calls_.mutex);
            calls_.note_thread();
            calls_.decoded_ids.push_back(frame_id);
            calls_.decoded_keys.push_back(keyframe);
            hook = calls_.on_decode;
        }
        if (hook) hook();
        return {.picture = &picture_, .frame_id = frame_id, .keyframe = keyframe};
    }
    void shutdown() override {}
    bool supports_codec(VideoCodec) const override { return true; }
    std::string_view name() const override { return "FakeDecoder"; }
    void set_on_request_idr(std::function<void()> callback) override { request_idr_ = std::move(callback); }

private:
    VideoCalls& calls_;
    bool fail_initialize_;
    Picture picture_;
    std::function<void()> request_idr_;
};

class FakeRenderer final : public IRenderer {
public:
    explicit FakeRenderer(VideoCalls& calls) : calls_(calls) {}
    bool initialize(SDL_Window*, uint32_t, uint32_t) override { return note(); }
    float render_frame(const Picture*, uint32_t, uint32_t) override {
        std::lock_guard lock(calls_.mutex);
        calls_.note_thread();
        ++calls_.pictures_drawn;
        return 1.0f;
    }
    void clear() override { note(); }
    bool restore_snapshot() override {
        std::lock_guard lock(calls_.mutex);
        calls_.note_thread();
        ++calls_.redraws;
        return true;
    }
    void bind_render_target() override { note(); }
    void present() override {
        std::lock_guard lock(calls_.mutex);
        calls_.note_thread();
        ++calls_.presents;
        presented_.fetch_add(1);
    }
    void resize(uint32_t width, uint32_t height) override {
        std::lock_guard lock(calls_.mutex);
        calls_.note_thread();
        calls_.resizes.emplace_back(width, height);
    }
    void shutdown() override { note(); }
    std::string_view name() const override { return "FakeRenderer"; }
    uint64_t frames_presented() const override { return presented_.load(); }

private:
    bool note() {
        std::lock_guard lock(calls_.mutex);
        calls_.note_thread();
        return true;
    }

    VideoCalls& calls_;
    std::atomic<uint64_t> presented_{0};
};

}  // namespace nb::test
