// Reading a BGRA texture back into memory, for tests and diagnostics.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <vector>

namespace nb {

// The texture's pixels as RGB rows from the top, 3 bytes a pixel; empty
// when the texture is not B8G8R8A8 or the copy cannot be mapped.
std::vector<uint8_t> read_back_rgb(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11Texture2D* texture);

}  // namespace nb
