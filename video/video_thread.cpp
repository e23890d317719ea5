// The video thread's loop: posted work first, then one frame at a time
// through the key-frame rule, the decoder and, when nothing newer waits,
// the renderer and the overlay.
#include "video/video_thread.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>

#include "common/clock.h"
#include "common/logging.h"
#include "common/thread_name.h"

namespace nb {

VideoThread::VideoThread(std::unique_ptr<IRenderer> renderer, std::unique_ptr<IVideoDecoder> decoder, Hooks hooks)
    : renderer_(std::move(renderer)),
      decoder_(std::move(decoder)),
      hooks_(std::move(hooks)),
      requester_(KeyFrameRequester::Hooks{hooks_.request_key_frame, hooks_.rtt_ms, {}}) {
    decode_history_ms_.reserve(FrameTimeHistory::k_capacity);
    total_history_ms_.reserve(FrameTimeHistory::k_capacity);
}

VideoThread::~VideoThread() { stop(); }

bool VideoThread::start(SDL_Window* window, VideoCodec codec, uint32_t width, uint32_t height) {
    if (!renderer_ || !decoder_ || thread_.joinable()) return false;
    std::promise<bool> ready;
    auto started = ready.get_future();
    {
        std::lock_guard lock(mutex_);
        accepting_ = true;
        stopping_ = false;
    }
    thread_ = std::thread([this, window, codec, width, height, &ready] {
        const bool ok = set_up(window, codec, width, height);
        ready.set_value(ok);
        if (ok) body();
    });
    if (started.get()) return true;
    thread_.join();
    std::lock_guard lock(mutex_);
    accepting_ = false;
    return false;
}

bool VideoThread::set_up(SDL_Window* window, VideoCodec codec, uint32_t width, uint32_t height) {
    // The GL context is created here, so that it is current on this thread
    // and on no other for the whole session.
    if (!renderer_->initialize(window, width, height)) {
        spdlog::error("Launcher: {}::initialize failed", renderer_->name());
        return false;
    }
    spdlog::debug("Launcher: {} renderer initialized", renderer_->name());
    if (!decoder_->initialize(codec, width, height)) {
        spdlog::error("Launcher: {}::initialize failed", decoder_->name());
        renderer_->shutdown();
        return false;
    }
    spdlog::debug("Launcher: {} decoder initialized", decoder_->name());
    decoder_->set_on_request_idr([this] { requester_.request(); });
    // Asked before start() returns, so the agent hears it ahead of anything
    // the session sends next.
    requester_.request();  // the stream's first key frame
    return true;
}

void VideoThread::body() {
    name_this_thread("nb-video");
    spdlog::debug("VideoThread: started");
    try {
        loop();
    } catch (const std::exception& e) {
        spdlog::critical("VideoThread: exception: {}", e.what());
    } catch (...) {
        spdlog::critical("VideoThread: unknown exception");
    }
    std::vector<Task> last;
    {
        std::lock_guard lock(mutex_);
        accepting_ = false;
        last.swap(tasks_);
        frames_.clear();
        queued_bytes_ = 0;
    }
    // Posted work still runs: the overlay's GL objects must go while the
    // context exists.
    run_tasks(last);
    decoder_->shutdown();
    renderer_->shutdown();
    spdlog::info("VideoThread: stopped ({} frames received, {} decoded, {} presented, {} skipped behind newer "
                 "frames, {} held back for a key frame, {} dropped with the queue full, {} key-frame requests)",
                 received_.load(), decoded_.load(), presented_.load(), skipped_.load(), requester_.frames_held_back(),
                 dropped_.load(), requester_.requests_sent());
}

void VideoThread::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // cannot join itself; the loop ends on its own
        return;
    }
    thread_.join();
}

void VideoThread::loop() {
    std::vector<Task> tasks;
    for (;;) {
        std::optional<Queued> next;
        {
            std::unique_lock lock(mutex_);
            auto ready = [this] { return stopping_ || !frames_.empty() || !tasks_.empty(); };
            if (overlay_visible_ && overlay_draw_) {
                const auto deadline = std::chrono::steady_clock::now() +
                                      std::chrono::microseconds(std::max<int64_t>(0, next_refresh_us() - now_us()));
                wake_.wait_until(lock, deadline, ready);
            } else {
                wake_.wait(lock, ready);
            }
            if (stopping_) return;
            tasks.swap(tasks_);
            if (!frames_.empty()) {
                next.emplace(std::move(frames_.front()));
                frames_.pop_front();
                queued_bytes_ -= next->frame.access_unit.size();
            }
        }
        run_tasks(tasks);
        try {
            if (next) {
                handle(*next);
            } else if (overlay_visible_ && now_us() >= next_refresh_us()) {
                refresh_overlay();
            }
        } catch (const std::exception& e) {
            spdlog::error("Launcher: frame callback exception (frame {}): {}", next ? next->frame.frame_id : 0,
                          e.what());
        }
    }
}

void VideoThread::run_tasks(std::vector<Task>& tasks) {
    for (auto& task : tasks) {
        try {
            task(*renderer_);
        } catch (const std::exception& e) {
            spdlog::error("VideoThread: posted task failed: {}", e.what());
        }
    }
    tasks.clear();
}

void VideoThread::submit(CompletedFrame&& frame) {
    bool queued = false;
    size_t overflow = 0;
    const uint32_t frame_id = frame.frame_id;
    const size_t bytes = frame.access_unit.size();
    {
        std::lock_guard lock(mutex_);
        if (!accepting_ || stopping_) return;
        const bool full = frames_.size() >= k_queue_frames || queued_bytes_ + bytes > k_queue_bytes;
        if (full && frame.key) {
            // A key frame makes everything queued before it pointless.
            overflow = frames_.size();
            frames_.clear();
            queued_bytes_ = 0;
        } else if (full) {
            overflow = 1;
        }
        if (!full || frame.key) {
            frames_.push_back({std::move(frame), now_us()});
            queued_bytes_ += bytes;
            queued = true;
        }
    }
    if (overflow > 0) {
        dropped_.fetch_add(overflow, std::memory_order_relaxed);
        if (should_log_throttled(drop_log_count_, 5, 100)) {
            spdlog::warn("VideoThread: decoder {} frames behind, {} frame(s) dropped at frame {}", k_queue_frames,
                         overflow, frame_id);
        }
    }
    if (queued) wake_.notify_one();
}

bool VideoThread::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (!accepting_) return false;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

bool VideoThread::run_and_wait(Task task) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        task(*renderer_);
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    const bool posted = post([task = std::move(task), done](IRenderer& renderer) {
        try {
            task(renderer);
        } catch (...) {
            done->set_value();
            throw;
        }
        done->set_value();
    });
    if (!posted) return false;
    finished.wait();
    return true;
}

void VideoThread::set_overlay_draw(OverlayDraw draw) {
    post([this, draw = std::move(draw)](IRenderer&) mutable { overlay_draw_ = std::move(draw); });
}

void VideoThread::set_overlay_visible(bool visible) {
    post([this, visible](IRenderer&) {
        overlay_visible_ = visible;
        last_refresh_us_ = 0;
        // On a frozen picture nothing else would take the panel off again.
        if (!visible && now_us() - last_present_us_.load() > k_overlay_refresh_after_present_us) refresh_overlay();
    });
}

void VideoThread::resize(uint32_t width, uint32_t height) {
    post([width, height](IRenderer& renderer) { renderer.resize(width, height); });
}

void VideoThread::handle(Queued& queued) {
    CompletedFrame& frame = queued.frame;
    received_.fetch_add(1, std::memory_order_relaxed);
    FrameTiming timing{.frame_id = frame.frame_id,
                       .first_packet_us = frame.first_packet_us,
                       .last_packet_us = frame.last_packet_us,
                       .queued_us = queued.queued_us,
                       .dequeued_us = now_us()};
    bytes_window_.add(timing.dequeued_us, static_cast<int64_t>(frame.access_unit.size()));
    if (!requester_.admit(frame.frame_id, frame.key)) return;
    timing.decode_start_us = now_us();
    const DecodedFrame decoded =
        decoder_->decode(frame.access_unit.data(), frame.access_unit.size(), frame.frame_id, frame.key);
    timing.decoded_us = now_us();
    decode_window_.add(timing.decoded_us, timing.decoded_us - timing.decode_start_us);
    if (decoded.picture) {
        decoded_.fetch_add(1, std::memory_order_relaxed);
        if (hooks_.picture_decoded) hooks_.picture_decoded();
        // Every frame passes the decoder to keep its references whole, but
        // drawing one that a newer frame already follows only delays that
        // one, unless the picture has stood still too long already.
        const int64_t last_present = last_present_us_.load(std::memory_order_relaxed);
        const bool picture_overdue =
            last_present == 0 || timing.decoded_us - last_present >= hooks_.max_present_gap_us;
        if (!picture_overdue && newer_frame_waiting()) {
            skipped_.fetch_add(1, std::memory_order_relaxed);
        } else {
            present(*decoded.picture, timing);
        }
    }
    if (hooks_.timing_sink) hooks_.timing_sink->on_frame_timing(timing);
}

bool VideoThread::newer_frame_waiting() {
    std::lock_guard lock(mutex_);
    return !frames_.empty();
}

void VideoThread::present(const Picture& picture, FrameTiming& timing) {
    renderer_->render_frame(&picture, picture.width, picture.height);
    renderer_->bind_render_target();
    const int64_t now = now_us();
    presented_window_.add(now, 1);
    presented_.fetch_add(1, std::memory_order_relaxed);
    if (overlay_draw_) overlay_draw_(figures());
    timing.drawn_us = now_us();
    renderer_->present();
    timing.presented_us = now_us();
    last_present_us_.store(timing.presented_us, std::memory_order_relaxed);
    frame_times_.add(timing.presented_us, static_cast<float>(timing.decoded_us - timing.decode_start_us) / 1000.0f,
                     static_cast<float>(timing.presented_us - timing.last_packet_us) / 1000.0f);
}

int64_t VideoThread::next_refresh_us() const {
    return std::max(last_present_us_.load(std::memory_order_relaxed) + k_overlay_refresh_after_present_us,
                    last_refresh_us_ + k_overlay_refresh_spacing_us) +
           1;
}

void VideoThread::refresh_overlay() {
    if (!renderer_->restore_snapshot()) renderer_->clear();
    renderer_->bind_render_target();
    if (overlay_draw_) overlay_draw_(figures());
    renderer_->present();
    last_refresh_us_ = now_us();
}

VideoFigures VideoThread::figures() {
    const int64_t now = now_us();
    const auto presented = presented_window_.totals(now);
    const auto decode = decode_window_.totals(now);
    const auto bytes = bytes_window_.totals(now);
    VideoFigures figures;
    figures.presented_fps = static_cast<float>(presented.count);
    figures.decode_ms = decode.count == 0 ? 0.0f
                                          : static_cast<float>(static_cast<double>(decode.sum) /
                                                               static_cast<double>(decode.count) / 1000.0);
    figures.video_kbps = static_cast<float>(static_cast<double>(bytes.sum) * 8.0 / 1000.0);
    figures.presented = presented_.load(std::memory_order_relaxed);
    figures.decoded = decoded_.load(std::memory_order_relaxed);
    figures.skipped = skipped_.load(std::memory_order_relaxed);
    frame_times_.recent(now, decode_history_ms_, total_history_ms_);
    figures.decode_history_ms = decode_history_ms_;
    figures.total_history_ms = total_history_ms_;
    return figures;
}

}  // namespace nb
