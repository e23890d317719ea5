// Decoder transform enumeration and media type negotiation.
#include "video/mf_transform.h"

#include <mferror.h>
#include <objbase.h>

#include <algorithm>
#include <cstdlib>

namespace nb {

std::vector<MfCom<IMFActivate>> find_decoder_transforms(VideoCodec codec) {
    std::vector<MfCom<IMFActivate>> found;
    GUID subtype{};
    if (codec == VideoCodec::H264) {
        subtype = MFVideoFormat_H264;
    } else if (codec == VideoCodec::HEVC) {
        subtype = MFVideoFormat_HEVC;
    } else {
        return found;
    }
    MFT_REGISTER_TYPE_INFO input{MFMediaType_Video, subtype};
    IMFActivate** activates = nullptr;
    UINT32 count = 0;
    const UINT32 flags = MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_LOCALMFT | MFT_ENUM_FLAG_SORTANDFILTER;
    if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_DECODER, flags, &input, nullptr, &activates, &count))) return found;
    for (UINT32 i = 0; i < count; ++i) {
        found.emplace_back(activates[i]);
        activates[i]->Release();  // the ComPtr holds its own reference
    }
    CoTaskMemFree(activates);
    return found;
}

HRESULT set_input_type(IMFTransform* transform, VideoCodec codec, uint32_t width, uint32_t height) {
    MfCom<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (FAILED(hr)) return hr;
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, codec == VideoCodec::HEVC ? MFVideoFormat_HEVC : MFVideoFormat_H264);
    MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
    type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    return transform->SetInputType(0, type.Get(), 0);
}

bool set_nv12_output_type(IMFTransform* transform) {
    for (DWORD index = 0;; ++index) {
        MfCom<IMFMediaType> type;
        if (FAILED(transform->GetOutputAvailableType(0, index, &type))) return false;
        GUID subtype{};
        if (SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFVideoFormat_NV12 &&
            SUCCEEDED(transform->SetOutputType(0, type.Get(), 0))) {
            return true;
        }
    }
}

bool read_output_format(IMFTransform* transform, MfOutputFormat& format) {
    MfCom<IMFMediaType> type;
    if (FAILED(transform->GetOutputCurrentType(0, &type))) return false;
    UINT32 width = 0;
    UINT32 height = 0;
    if (FAILED(MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height)) || width == 0 || height == 0) {
        return false;
    }
    format.frame_width = width;
    format.frame_height = height;
    format.visible_width = width;
    format.visible_height = height;
    MFVideoArea area{};
    if (SUCCEEDED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area), sizeof(area),
                                nullptr)) &&
        area.OffsetX.value == 0 && area.OffsetY.value == 0 && area.Area.cx > 0 && area.Area.cy > 0 &&
        static_cast<uint32_t>(area.Area.cx) <= width && static_cast<uint32_t>(area.Area.cy) <= height) {
        format.visible_width = static_cast<uint32_t>(area.Area.cx);
        format.visible_height = static_cast<uint32_t>(area.Area.cy);
    }
    const UINT32 stride = MFGetAttributeUINT32(type.Get(), MF_MT_DEFAULT_STRIDE, width);
    // A negative stride means bottom-up rows, which NV12 never uses.
    format.stride = std::max<uint32_t>(static_cast<uint32_t>(std::abs(static_cast<int32_t>(stride))), width);
    switch (MFGetAttributeUINT32(type.Get(), MF_MT_YUV_MATRIX, MFVideoTransferMatrix_Unknown)) {
        case MFVideoTransferMatrix_BT709:
            format.matrix = ColorMatrix::bt709;
            break;
        case MFVideoTransferMatrix_BT601:
            format.matrix = ColorMatrix::bt601;
            break;
        default:
            format.matrix = ColorMatrix::unspecified;
    }
    format.full_range =
        MFGetAttributeUINT32(type.Get(), MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_16_235) == MFNominalRange_0_255;
    MFT_OUTPUT_STREAM_INFO info{};
    if (FAILED(transform->GetOutputStreamInfo(0, &info))) return false;
    format.transform_allocates =
        (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
    format.sample_size = std::max<uint32_t>(info.cbSize, format.stride * height * 3 / 2);
    return true;
}

}  // namespace nb
