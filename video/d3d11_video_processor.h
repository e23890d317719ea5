// NV12 pictures converted and scaled by the GPU's video processor: the
// picture is written into a staging texture, copied into an NV12 texture
// on the GPU and blitted into the back buffer. Only devices that expose
// ID3D11VideoDevice and take NV12 textures have it; the renderer falls back
// to its shader path everywhere else.
#pragma once

#include <d3d11.h>
#include <wrl/client.h>

#include <cstdint>

#include "video/video_decoder.h"

namespace nb {

class D3d11VideoProcessor {
public:
    // Takes the device's video interfaces; false when it has none or cannot
    // make NV12 textures.
    bool open(ID3D11Device* device, ID3D11DeviceContext* context);
    // A processor for input_width x input_height pictures written into an
    // output_width x output_height target. False, with the processor gone,
    // when the driver refuses that size.
    bool prepare(uint32_t input_width, uint32_t input_height, uint32_t output_width, uint32_t output_height);
    bool ready() const { return processor_ != nullptr; }
    uint32_t input_width() const { return input_width_; }
    uint32_t input_height() const { return input_height_; }

    // Converts the picture's top-left visible_width x visible_height into
    // `dest` of `target`. The picture must be NV12 and of the prepared size.
    bool convert(const Picture& picture, uint32_t visible_width, uint32_t visible_height, ID3D11Texture2D* target,
                 const RECT& dest);
    // The output view belongs to one back buffer; a resize replaces it.
    void drop_output_view() { output_view_.Reset(); }
    void close();

private:
    bool ensure_upload_textures(uint32_t width, uint32_t height);
    bool write_picture(const Picture& picture);

    template <class T>
    using Com = Microsoft::WRL::ComPtr<T>;
    Com<ID3D11Device> device_;
    Com<ID3D11DeviceContext> context_;
    Com<ID3D11VideoDevice> video_device_;
    Com<ID3D11VideoContext> video_context_;
    Com<ID3D11VideoProcessorEnumerator> enumerator_;
    Com<ID3D11VideoProcessor> processor_;
    Com<ID3D11VideoProcessorOutputView> output_view_;
    Com<ID3D11Texture2D> staging_;
    Com<ID3D11Texture2D> input_;
    Com<ID3D11VideoProcessorInputView> input_view_;
    uint32_t input_width_ = 0;
    uint32_t input_height_ = 0;
    uint32_t texture_width_ = 0;   // the upload textures, rounded up to even sizes
    uint32_t texture_height_ = 0;
};

}  // namespace nb
