// H.264 and HEVC decoding with a Media Foundation decoder transform, tuned
// for one picture out per access unit. The transform decodes on the GPU
// when it accepts a DXGI device manager, in software otherwise; pictures are
// copied into a pool of four NV12 pictures in CPU memory either way.
#pragma once

#include <d3d11.h>
#include <mfapi.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "video/idr_request_policy.h"
#include "video/mf_output.h"
#include "video/mf_transform.h"
#include "video/video_decoder.h"

namespace nb {

class MfDecoder final : public IVideoDecoder {
public:
    struct Options {
        // Hand the transform a DXGI device manager so that it can decode on
        // the GPU. Tests turn it off to measure the software path.
        bool try_hardware = true;
        // Monotonic microseconds; nb::now_us when empty.
        std::function<int64_t()> clock;
    };

    static constexpr int k_pool_size = 4;

    MfDecoder();
    explicit MfDecoder(Options options);
    ~MfDecoder() override;
    MfDecoder(const MfDecoder&) = delete;
    MfDecoder& operator=(const MfDecoder&) = delete;

    bool initialize(VideoCodec codec, uint32_t width, uint32_t height) override;
    DecodedFrame decode(const uint8_t* data, size_t size, uint32_t frame_id, bool keyframe) override;
    void shutdown() override;
    bool supports_codec(VideoCodec codec) const override;
    // "D3D11VA-MFT" when the transform decodes on the GPU, "MFT" in software.
    std::string_view name() const override;
    void set_on_request_idr(std::function<void()> callback) override;

    struct Counters {
        uint32_t decoded_frames = 0;  // since the last successful initialize
        uint32_t consecutive_errors = 0;
        uint32_t frames_without_output = 0;
    };
    Counters counters() const;

private:
    template <class T>
    using Com = Microsoft::WRL::ComPtr<T>;

    void shutdown_locked();
    void open_device();
    bool open_transform(IMFActivate* activate);
    bool renegotiate_output();
    // One ProcessOutput exchange: at most one picture goes into `result`.
    void output_step(DecodedFrame& result, int64_t start_us);
    void take_picture(IMFSample* sample, DecodedFrame& result, int64_t start_us);
    void note_failed_input(HRESULT hr);
    void apply_stall_policy(const DecodedFrame& result);
    int64_t now() const;

    Options options_;

    // Serialises initialize, decode and shutdown, and guards everything below.
    mutable std::mutex mutex_;
    std::function<void()> on_request_idr_;
    Com<ID3D11Device> device_;
    Com<IMFDXGIDeviceManager> device_manager_;
    UINT reset_token_ = 0;
    Com<IMFTransform> transform_;
    // Reused for transforms that want the caller's output sample.
    Com<IMFSample> output_sample_;
    MfOutputFormat format_;
    bool mf_started_ = false;
    bool com_initialized_ = false;
    std::thread::id com_thread_;
    std::array<MfPictureSlot, k_pool_size> pool_;
    int pool_index_ = 0;
    VideoCodec codec_ = VideoCodec::H264;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    bool initialized_ = false;
    uint32_t decoded_frames_ = 0;
    IdrRequestPolicy idr_policy_;
    std::atomic<bool> hardware_{false};
    std::atomic<uint64_t> input_error_log_count_{0};
    std::atomic<uint64_t> output_error_log_count_{0};
    std::atomic<uint64_t> idle_log_count_{0};
};

}  // namespace nb
