// Placement of pictures in windows of other shapes, shared by the renderers.
#include "video/yuv_conversion.h"

#include <gtest/gtest.h>

#include <tuple>

namespace nb {
namespace {

TEST(Letterbox, FitsThePictureCentred) {
    struct {
        uint32_t pw, ph, ww, wh;
        int32_t x, y, width, height;
    } const cases[] = {
        {1920, 1080, 1920, 1080, 0, 0, 1920, 1080}, {1920, 1080, 1280, 720, 0, 0, 1280, 720},
        {1920, 1080, 1920, 1200, 0, 60, 1920, 1080}, {1280, 720, 1024, 768, 0, 96, 1024, 576},
        {640, 480, 1920, 1080, 240, 0, 1440, 1080},  {0, 0, 800, 600, 0, 0, 800, 600},
    };
    for (const auto& c : cases) {
        const ViewRect r = letterbox(c.pw, c.ph, c.ww, c.wh);
        EXPECT_EQ(std::tie(r.x, r.y, r.width, r.height), std::tie(c.x, c.y, c.width, c.height))
            << c.pw << "x" << c.ph << " in " << c.ww << "x" << c.wh;
    }
}

TEST(VisibleExtent, CropsCodingPaddingButShowsNewSizesWhole) {
    struct {
        uint32_t picture, requested, expected;
    } const cases[] = {
        {1088, 1080, 1080}, {240, 240, 240}, {256, 240, 240}, {1024, 960, 1024},
        {480, 640, 480},    {320, 0, 320},   {303, 240, 240}, {304, 240, 304},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(visible_extent(c.picture, c.requested), c.expected) << c.picture << " for " << c.requested;
    }
}

}  // namespace
}  // namespace nb
