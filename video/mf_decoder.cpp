// Decoding of the stream's access units into a rotating pool of four pictures.
#include "video/mf_decoder.h"

#include <codecapi.h>
#include <d3d10.h>
#include <mferror.h>
#include <objbase.h>
#include <spdlog/spdlog.h>

#include <cstring>
#include <limits>

#include "common/clock.h"
#include "common/logging.h"
#include "video/hresult.h"

namespace nb {

MfDecoder::MfDecoder() : MfDecoder(Options{}) {}
MfDecoder::MfDecoder(Options options) : options_(std::move(options)) {}
MfDecoder::~MfDecoder() { shutdown(); }

int64_t MfDecoder::now() const { return options_.clock ? options_.clock() : now_us(); }
bool MfDecoder::supports_codec(VideoCodec codec) const { return codec == VideoCodec::H264 || codec == VideoCodec::HEVC; }

std::string_view MfDecoder::name() const { return hardware_.load() ? "D3D11VA-MFT" : "MFT"; }

void MfDecoder::set_on_request_idr(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    on_request_idr_ = std::move(callback);
}

MfDecoder::Counters MfDecoder::counters() const {
    std::lock_guard lock(mutex_);
    return {decoded_frames_, idr_policy_.consecutive_errors(), idr_policy_.frames_without_output()};
}

bool MfDecoder::initialize(VideoCodec codec, uint32_t width, uint32_t height) {
    std::lock_guard lock(mutex_);
    if (initialized_) shutdown_locked();
    codec_ = codec;
    width_ = width;
    height_ = height;
    hardware_ = false;
    if (!supports_codec(codec)) {
        spdlog::error("MfDecoder: unsupported codec {}", codec_number(codec));
        spdlog::error("MfDecoder: failed to create MFT decoder");
        return false;
    }
    // Transforms are COM objects; the threads that call decode later share
    // this multithreaded apartment.
    if (!com_initialized_) {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        com_initialized_ = SUCCEEDED(hr);
        com_thread_ = std::this_thread::get_id();
    }
    if (!mf_started_) {
        const HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_FULL);
        if (FAILED(hr)) {
            spdlog::error("MfDecoder: MFStartup failed (hr=0x{:08x})", hr_code(hr));
            return false;
        }
        mf_started_ = true;
    }
    if (options_.try_hardware) open_device();

    const auto activates = find_decoder_transforms(codec);
    if (activates.empty()) {
        spdlog::error("MfDecoder: no MFT decoder found for codec {}", codec_number(codec));
        spdlog::error("MfDecoder: failed to create MFT decoder");
        return false;
    }
    spdlog::info("MfDecoder: found {} MFT decoder(s)", activates.size());
    // A transform that refuses the stream's types makes way for the next.
    bool opened = false;
    for (const auto& activate : activates) {
        if ((opened = open_transform(activate.Get()))) break;
    }
    if (!opened) {
        spdlog::error("MfDecoder: failed to create MFT decoder");
        return false;
    }
    for (MfPictureSlot& slot : pool_) slot = MfPictureSlot{};
    initialized_ = true;
    decoded_frames_ = 0;
    idr_policy_.reset();
    spdlog::info("MfDecoder: initialized {}x{} codec={} (MFT, {})", width, height, codec_number(codec),
                 hardware_ ? "hardware" : "software");
    return true;
}

void MfDecoder::open_device() {
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
    D3D_FEATURE_LEVEL level{};
    device_.Reset();
    device_manager_.Reset();
    HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_VIDEO_SUPPORT,
                                   levels, 2, D3D11_SDK_VERSION, &device_, &level, nullptr);
    if (FAILED(hr)) {
        spdlog::warn("MfDecoder: D3D11CreateDevice failed (hr=0x{:08x}), decoding in software", hr_code(hr));
        return;
    }
    spdlog::info("MfDecoder: created D3D11 device (feature level 0x{:04x})", static_cast<uint32_t>(level));
    // The transform's worker threads use the device next to ours.
    Com<ID3D10Multithread> multithread;
    if (SUCCEEDED(device_.As(&multithread))) multithread->SetMultithreadProtected(TRUE);
    hr = MFCreateDXGIDeviceManager(&reset_token_, &device_manager_);
    if (FAILED(hr)) {
        spdlog::warn("MfDecoder: MFCreateDXGIDeviceManager failed (hr=0x{:08x}), decoding in software", hr_code(hr));
        device_.Reset();
        return;
    }
    hr = device_manager_->ResetDevice(device_.Get(), reset_token_);
    if (FAILED(hr)) {
        spdlog::warn("MfDecoder: IMFDXGIDeviceManager::ResetDevice failed (hr=0x{:08x}), decoding in software",
                     hr_code(hr));
        device_manager_.Reset();
        device_.Reset();
    }
}

bool MfDecoder::open_transform(IMFActivate* activate) {
    transform_.Reset();
    output_sample_.Reset();
    hardware_ = false;
    HRESULT hr = activate->ActivateObject(IID_PPV_ARGS(&transform_));
    if (FAILED(hr)) {
        spdlog::error("MfDecoder: ActivateObject failed (hr=0x{:08x})", hr_code(hr));
        return false;
    }
    Com<IMFAttributes> attributes;
    if (SUCCEEDED(transform_->GetAttributes(&attributes))) {
        attributes->SetUINT32(CODECAPI_AVLowLatencyMode, TRUE);
    }
    if (device_manager_ && attributes && MFGetAttributeUINT32(attributes.Get(), MF_SA_D3D11_AWARE, FALSE)) {
        hr = transform_->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                        reinterpret_cast<ULONG_PTR>(device_manager_.Get()));
        if (FAILED(hr)) {
            spdlog::warn("MfDecoder: SET_D3D_MANAGER failed (hr=0x{:08x}), falling back to software decode",
                         hr_code(hr));
        } else {
            hardware_ = true;
        }
    }
    hr = set_input_type(transform_.Get(), codec_, width_, height_);
    if (FAILED(hr)) {
        spdlog::error("MfDecoder: SetInputType failed (hr=0x{:08x})", hr_code(hr));
        activate->ShutdownObject();
        transform_.Reset();
        return false;
    }
    if (!set_nv12_output_type(transform_.Get())) {
        spdlog::error("MfDecoder: could not set NV12 output type");
        activate->ShutdownObject();
        transform_.Reset();
        return false;
    }
    spdlog::info("MfDecoder: output type set to NV12");
    format_ = MfOutputFormat{};
    read_output_format(transform_.Get(), format_);
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    return true;
}

DecodedFrame MfDecoder::decode(const uint8_t* data, size_t size, uint32_t frame_id, bool keyframe) {
    DecodedFrame result;
    result.frame_id = frame_id;
    result.keyframe = keyframe;

    std::lock_guard lock(mutex_);
    result.width = width_;
    result.height = height_;
    if (!initialized_ || !transform_) {
        if (should_log_throttled(idle_log_count_, 1, 100)) spdlog::warn("MfDecoder: not initialized");
        return result;
    }
    const int64_t start_us = now();
    // An empty sample tells some transforms nothing and others to drain.
    if (!data || size == 0 || size > std::numeric_limits<DWORD>::max()) {
        note_failed_input(E_INVALIDARG);
        return result;
    }
    Com<IMFSample> sample;
    Com<IMFMediaBuffer> buffer;
    BYTE* bytes = nullptr;
    if (FAILED(MFCreateSample(&sample)) || FAILED(MFCreateMemoryBuffer(static_cast<DWORD>(size), &buffer)) ||
        FAILED(buffer->Lock(&bytes, nullptr, nullptr))) {
        note_failed_input(E_OUTOFMEMORY);
        return result;
    }
    std::memcpy(bytes, data, size);
    buffer->Unlock();
    buffer->SetCurrentLength(static_cast<DWORD>(size));
    sample->AddBuffer(buffer.Get());
    if (keyframe) sample->SetUINT32(MFSampleExtension_CleanPoint, TRUE);

    HRESULT hr = transform_->ProcessInput(0, sample.Get(), 0);
    if (hr == MF_E_NOTACCEPTING) {
        output_step(result, start_us);
        hr = transform_->ProcessInput(0, sample.Get(), 0);
    }
    if (FAILED(hr)) {
        note_failed_input(hr);
        return result;
    }
    output_step(result, start_us);
    apply_stall_policy(result);
    return result;
}

void MfDecoder::note_failed_input(HRESULT hr) {
    if (should_log_throttled(input_error_log_count_, 5, 100)) {
        spdlog::error("MfDecoder: ProcessInput failed (hr=0x{:08x})", hr_code(hr));
    }
    carry_out(idr_policy_.input_failed(static_cast<bool>(on_request_idr_)), "MfDecoder", on_request_idr_);
}

void MfDecoder::apply_stall_policy(const DecodedFrame& result) {
    carry_out(idr_policy_.output(result.picture != nullptr, now()), "MfDecoder", on_request_idr_);
}

bool MfDecoder::renegotiate_output() {
    spdlog::info("MfDecoder: output stream change, re-negotiating");
    if (!set_nv12_output_type(transform_.Get())) {
        spdlog::error("MfDecoder: could not set NV12 output type");
        return false;
    }
    MfOutputFormat format;
    if (!read_output_format(transform_.Get(), format)) {
        spdlog::error("MfDecoder: the transform reports no output size");
        return false;
    }
    if (format.frame_width != format_.frame_width || format.frame_height != format_.frame_height) {
        spdlog::info("MfDecoder: pool resize {}x{} -> {}x{} (coded size)", format_.frame_width,
                     format_.frame_height, format.frame_width, format.frame_height);
    }
    // Pictures already handed out keep their slots; later ones take the
    // new layout as each slot is refilled.
    width_ = format.visible_width;
    height_ = format.visible_height;
    if (format.sample_size != format_.sample_size || format.transform_allocates) output_sample_.Reset();
    format_ = format;
    return true;
}

void MfDecoder::output_step(DecodedFrame& result, int64_t start_us) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!format_.transform_allocates && !output_sample_) {
            output_sample_ = make_output_sample(format_.sample_size);
            if (!output_sample_) {
                spdlog::error("MfDecoder: out of memory for an output sample of {} bytes", format_.sample_size);
                return;
            }
        }
        MFT_OUTPUT_DATA_BUFFER output{};
        output.dwStreamID = 0;
        output.pSample = format_.transform_allocates ? nullptr : output_sample_.Get();
        DWORD status = 0;
        const HRESULT hr = transform_->ProcessOutput(0, 1, &output, &status);
        if (output.pEvents) output.pEvents->Release();
        // A sample the transform allocated is ours to release.
        Com<IMFSample> produced;
        if (output.pSample) {
            produced = output.pSample;
            if (format_.transform_allocates) output.pSample->Release();
        }
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) {
            spdlog::trace("MfDecoder: ProcessOutput needs more input (no frame produced)");
            return;
        }
        if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
            if (!renegotiate_output()) return;
            continue;
        }
        if (FAILED(hr)) {
            if (should_log_throttled(output_error_log_count_, 5, 100)) {
                spdlog::error("MfDecoder: ProcessOutput failed (hr=0x{:08x})", hr_code(hr));
            }
            return;
        }
        if (!produced) {
            spdlog::debug("MfDecoder: ProcessOutput needs more input (no frame produced)");
            return;
        }
        take_picture(produced.Get(), result, start_us);
        return;
    }
}

void MfDecoder::take_picture(IMFSample* sample, DecodedFrame& result, int64_t start_us) {
    if (format_.frame_width == 0 && !read_output_format(transform_.Get(), format_)) return;
    MfPictureSlot& slot = pool_[pool_index_];
    pool_index_ = (pool_index_ + 1) % k_pool_size;
    if (!copy_nv12_sample(sample, format_, slot)) {
        if (should_log_throttled(output_error_log_count_, 5, 100)) {
            spdlog::error("MfDecoder: decoded picture {}x{} could not be read", format_.frame_width,
                          format_.frame_height);
        }
        return;
    }
    result.picture = &slot.picture;
    result.decoded_at_us = static_cast<uint64_t>(now());
    ++decoded_frames_;
    spdlog::trace("MfDecoder: decoded frame {} ({}us, key={})", result.frame_id, now() - start_us, result.keyframe);
}

void MfDecoder::shutdown() {
    std::lock_guard lock(mutex_);
    shutdown_locked();
}

void MfDecoder::shutdown_locked() {
    const bool was_initialized = initialized_;
    if (transform_) {
        transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
        transform_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
        transform_.Reset();
    }
    output_sample_.Reset();
    device_manager_.Reset();
    device_.Reset();
    for (MfPictureSlot& slot : pool_) slot = MfPictureSlot{};
    if (mf_started_) {
        MFShutdown();
        mf_started_ = false;
    }
    if (com_initialized_ && com_thread_ == std::this_thread::get_id()) {
        CoUninitialize();
        com_initialized_ = false;
    }
    initialized_ = false;
    hardware_ = false;
    if (was_initialized) spdlog::info("MfDecoder: shutdown (decoded {} frames)", decoded_frames_);
}

}  // namespace nb
