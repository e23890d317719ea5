// Software rendering of the test scene and the read-back of its stamp.
#include "tools/agent-sim/test_scene.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace nb {
namespace {

struct Yuv {
    uint8_t y, u, v;
};

// 75% colour bars in BT.601 limited range, left to right.
constexpr std::array<Yuv, 7> k_bars = {{
    {180, 128, 128},  // white
    {162, 44, 142},   // yellow
    {131, 156, 44},   // cyan
    {112, 72, 58},    // green
    {84, 184, 198},   // magenta
    {65, 100, 212},   // red
    {35, 212, 114},   // blue
}};

constexpr uint8_t k_black = 16;
constexpr uint8_t k_white = 235;

// The stamp strip: three rows (frame number, send time, check word) of 32
// bit cells, framed by one black cell on each side, in the bottom sixth.
constexpr int k_stamp_rows = 3;
constexpr int k_stamp_columns = 34;
constexpr int k_bits = 32;

int strip_top(int height) { return height - height / 6; }

int row_top(int row, int height) {
    const int top = strip_top(height);
    return top + row * (height - top) / k_stamp_rows;
}

int column_left(int column, int width) { return column * width / k_stamp_columns; }

void fill_rect(YuvPicture& p, int x0, int y0, int x1, int y1, Yuv colour) {
    x0 = std::clamp(x0, 0, p.width);
    x1 = std::clamp(x1, 0, p.width);
    y0 = std::clamp(y0, 0, p.height);
    y1 = std::clamp(y1, 0, p.height);
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; ++y) {
        std::memset(&p.y[static_cast<size_t>(y) * p.width + x0], colour.y, static_cast<size_t>(x1 - x0));
    }
    // Chroma covers every 2x2 block the rectangle touches.
    const int cw = p.chroma_width();
    const int cx0 = x0 / 2, cx1 = (x1 + 1) / 2, cy0 = y0 / 2, cy1 = (y1 + 1) / 2;
    for (int y = cy0; y < cy1; ++y) {
        std::memset(&p.u[static_cast<size_t>(y) * cw + cx0], colour.u, static_cast<size_t>(cx1 - cx0));
        std::memset(&p.v[static_cast<size_t>(y) * cw + cx0], colour.v, static_cast<size_t>(cx1 - cx0));
    }
}

}  // namespace

bool TestScene::valid_size(int width, int height) {
    return width >= 64 && height >= 36 && width % 2 == 0 && height % 2 == 0 && width <= 8192 && height <= 8192;
}

uint32_t TestScene::check_word(const SceneStamp& stamp) {
    uint32_t h = stamp.frame_number * 0x9E3779B1u;
    h ^= (stamp.send_time_us << 13) | (stamp.send_time_us >> 19);
    h ^= 0xA5C3F00Du;
    h *= 0x85EBCA6Bu;
    return h ^ (h >> 16);
}

int TestScene::block_x(uint32_t frame_number, int width) {
    const int size = std::max(2, width / 12);
    const int travel = std::max(1, width - size);
    const int step = std::max(2, width / 120);
    const uint64_t period = 2ull * static_cast<uint64_t>(travel);
    const auto phase = static_cast<int>((static_cast<uint64_t>(frame_number) * step) % period);
    return phase <= travel ? phase : static_cast<int>(period) - phase;
}

void TestScene::render(YuvPicture& picture, int width, int height, const SceneStamp& stamp, bool busy) {
    if (picture.width != width || picture.height != height) picture.allocate(width, height);

    const int bars_bottom = strip_top(height);
    for (size_t i = 0; i < k_bars.size(); ++i) {
        const int x0 = static_cast<int>(i) * width / static_cast<int>(k_bars.size());
        const int x1 = static_cast<int>(i + 1) * width / static_cast<int>(k_bars.size());
        fill_rect(picture, x0, 0, x1, bars_bottom, k_bars[i]);
    }

    if (busy) {
        // Lower half of the bars: 8x8 blocks of grey from a generator seeded
        // by the frame number, so every frame differs and repeats exactly.
        uint32_t state = stamp.frame_number * 2654435761u + 1;
        for (int y = bars_bottom / 2; y + 8 <= bars_bottom; y += 8) {
            for (int x = 0; x + 8 <= width; x += 8) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const auto luma = static_cast<uint8_t>(32 + (state & 0x7F) + ((state >> 8) & 0x3F));
                fill_rect(picture, x, y, x + 8, y + 8, {luma, 128, 128});
            }
        }
    }

    const int size = std::max(2, width / 12);
    const int bx = block_x(stamp.frame_number, width);
    const int by = (bars_bottom - size) / 2;
    fill_rect(picture, bx, by, bx + size, by + size, {k_black, 128, 128});

    fill_rect(picture, 0, bars_bottom, width, height, {k_black, 128, 128});
    const std::array<uint32_t, k_stamp_rows> words = {stamp.frame_number, stamp.send_time_us, check_word(stamp)};
    for (int row = 0; row < k_stamp_rows; ++row) {
        for (int bit = 0; bit < k_bits; ++bit) {
            if (((words[row] >> (k_bits - 1 - bit)) & 1u) == 0) continue;
            fill_rect(picture, column_left(bit + 1, width), row_top(row, height), column_left(bit + 2, width),
                      row_top(row + 1, height), {k_white, 128, 128});
        }
    }
}

std::optional<SceneStamp> TestScene::read_stamp(const uint8_t* pixels, int stride, int width, int height,
                                                int step) {
    if (pixels == nullptr || width < 34 || height < 18 || step < 1 || stride < width * step) return std::nullopt;
    std::array<uint32_t, k_stamp_rows> words{};
    for (int row = 0; row < k_stamp_rows; ++row) {
        const int y0 = row_top(row, height), y1 = row_top(row + 1, height);
        // Sample the inner half of each cell: edges blur first under compression.
        const int sy0 = y0 + (y1 - y0) / 4, sy1 = std::max(sy0 + 1, y1 - (y1 - y0) / 4);
        for (int bit = 0; bit < k_bits; ++bit) {
            const int x0 = column_left(bit + 1, width), x1 = column_left(bit + 2, width);
            const int sx0 = x0 + (x1 - x0) / 4, sx1 = std::max(sx0 + 1, x1 - (x1 - x0) / 4);
            uint64_t sum = 0, count = 0;
            for (int y = sy0; y < sy1 && y < height; ++y) {
                const uint8_t* line = pixels + static_cast<size_t>(y) * stride;
                for (int x = sx0; x < sx1 && x < width; ++x) {
                    sum += line[static_cast<size_t>(x) * step];
                    ++count;
                }
            }
            const bool one = count > 0 && sum / count >= 128;
            words[row] = (words[row] << 1) | (one ? 1u : 0u);
        }
    }
    const SceneStamp stamp{words[0], words[1]};
    if (check_word(stamp) != words[2]) return std::nullopt;
    return stamp;
}

}  // namespace nb
