#include "video/mf_output.h"

#include <mfapi.h>

#include <algorithm>
#include <cstring>

namespace nb {

namespace {

// Locks a buffer the way it can be read fastest: 2-D buffers (GPU surfaces
// among them) give their own pitch, plain ones the negotiated stride.
class LockedBuffer {
public:
    LockedBuffer(IMFMediaBuffer* buffer, uint32_t default_pitch) : buffer_(buffer) {
        if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&buffer_2d_)))) {
            BYTE* scan0 = nullptr;
            LONG pitch = 0;
            DWORD length = 0;
            if (SUCCEEDED(buffer_2d_->GetContiguousLength(&length)) && SUCCEEDED(buffer_2d_->Lock2D(&scan0, &pitch))) {
                data_ = scan0;
                pitch_ = pitch;
                length_ = length;
                return;
            }
            buffer_2d_.Reset();
        }
        BYTE* data = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
            data_ = data;
            pitch_ = static_cast<LONG>(default_pitch);
            length_ = length;
        }
    }
    ~LockedBuffer() {
        if (!data_) return;
        if (buffer_2d_) {
            buffer_2d_->Unlock2D();
        } else {
            buffer_->Unlock();
        }
    }
    LockedBuffer(const LockedBuffer&) = delete;
    LockedBuffer& operator=(const LockedBuffer&) = delete;

    const uint8_t* data() const { return data_; }
    LONG pitch() const { return pitch_; }
    size_t length() const { return length_; }

private:
    IMFMediaBuffer* buffer_;
    MfCom<IMF2DBuffer> buffer_2d_;
    const uint8_t* data_ = nullptr;
    LONG pitch_ = 0;
    size_t length_ = 0;
};

}  // namespace

bool copy_nv12_sample(IMFSample* sample, const MfOutputFormat& format, MfPictureSlot& slot) {
    MfCom<IMFMediaBuffer> buffer;
    if (FAILED(sample->GetBufferByIndex(0, &buffer))) return false;
    const LockedBuffer locked(buffer.Get(), format.stride);
    const uint32_t width = format.frame_width;
    const uint32_t height = format.frame_height;
    const uint32_t chroma_rows = (height + 1) / 2;
    if (!locked.data() || locked.pitch() <= 0 || static_cast<uint32_t>(locked.pitch()) < width) return false;
    const size_t pitch = static_cast<size_t>(locked.pitch());
    // The last chroma row need not be padded out to the full pitch.
    if (locked.length() < pitch * (height + chroma_rows - 1) + width) return false;

    const uint32_t row = (width + 1) & ~1u;  // whole Cb/Cr pairs
    slot.bytes.resize(size_t{row} * (height + chroma_rows));
    uint8_t* luma = slot.bytes.data();
    uint8_t* chroma = luma + size_t{row} * height;
    for (uint32_t y = 0; y < height; ++y) std::memcpy(luma + size_t{row} * y, locked.data() + pitch * y, width);
    const uint8_t* source_chroma = locked.data() + pitch * height;
    for (uint32_t y = 0; y < chroma_rows; ++y) {
        std::memcpy(chroma + size_t{row} * y, source_chroma + pitch * y, std::min<size_t>(row, pitch));
    }
    Picture& p = slot.picture;
    p = Picture{};
    p.layout = PixelLayout::nv12;
    p.width = format.visible_width;
    p.height = format.visible_height;
    p.planes = {luma, chroma, nullptr};
    p.strides = {static_cast<int32_t>(row), static_cast<int32_t>(row), 0};
    p.matrix = format.matrix;
    p.full_range = format.full_range;
    return true;
}

MfCom<IMFSample> make_output_sample(uint32_t size) {
    MfCom<IMFSample> sample;
    MfCom<IMFMediaBuffer> buffer;
    if (FAILED(MFCreateSample(&sample)) || FAILED(MFCreateMemoryBuffer(size, &buffer)) ||
        FAILED(sample->AddBuffer(buffer.Get()))) {
        return nullptr;
    }
    return sample;
}

}  // namespace nb
