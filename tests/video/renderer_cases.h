// The behaviour every renderer back end shares, checked on a real window:
// pictures of known samples go in, the back buffer is read back and
// compared. A back end's suite derives its fixture from RendererCases and
// runs each case as a test of its own.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/video/log_capture.h"
#include "tests/video/test_pictures.h"
#include "video/platform_video.h"
#include "video/renderer.h"

namespace nb::test {

class RendererCases : public ::testing::Test {
protected:
    using OwnedPicture = pictures::OwnedPicture;
    using ColourCase = pictures::ColourCase;

    // A 320x240 streaming window made as the session makes it, with the
    // renderer initialized on it. SDL's video must be up.
    void SetUp() override {
        const uint32_t flags = prepare_platform_video_window();
        window_ = SDL_CreateWindow("nb_test_video", 0, 0, 320, 240, flags | SDL_WINDOW_SHOWN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        ASSERT_TRUE(renderer().initialize(window_, 320, 240));
    }
    void TearDown() override {
        renderer().shutdown();
        if (window_) SDL_DestroyWindow(window_);
    }

    virtual IRenderer& renderer() = 0;
    // The back buffer of the drawing sequence in progress as RGB rows.
    virtual std::vector<uint8_t> read_back() = 0;
    // Gives the window a new size and tells the renderer, as the event
    // loop does.
    virtual void resize_window(uint32_t w, uint32_t h) = 0;
    // The component name that starts the renderer's log lines.
    virtual std::string_view component() const = 0;

    std::string line(std::string_view text) const { return std::string(component()) + ": " + std::string(text); }
    // Reads the back buffer of the sequence in progress, then presents.
    std::vector<uint8_t> read_and_present() {
        auto pixels = read_back();
        renderer().present();
        return pixels;
    }
    std::vector<uint8_t> draw(const OwnedPicture& pic, uint32_t w = 320, uint32_t h = 240) {
        renderer().render_frame(&pic.picture, w, h);
        return read_and_present();
    }

    SDL_Window* window_ = nullptr;

    void converts_known_samples_to_rgb() {
        using namespace pictures;
        for (const PixelLayout layout : {PixelLayout::nv12, PixelLayout::yuv420p}) {
            for (const ColourCase& c : k_colour_cases) {
                SCOPED_TRACE(std::string(c.name) + (layout == PixelLayout::nv12 ? " NV12" : " YUV420P"));
                OwnedPicture pic(layout, 320, c.height, c.matrix, c.full_range);
                pic.fill(0, 0, 320, c.height, c.sample);
                EXPECT_GT(renderer().render_frame(&pic.picture, 320, c.height), 0.0f);
                // A 720-line picture shrinks into the window; being flat, its
                // centre keeps the colour.
                const auto pixels = read_and_present();
                ASSERT_EQ(pixels.size(), 320u * 240u * 3u);
                expect_pixel(pixels, 320, 160, 120, c.expected);
            }
        }
    }

    void keeps_upright_and_crops_padding() {
        using namespace pictures;
        // 256 coded lines for a 240-line stream: the last 16 are padding.
        OwnedPicture pic(PixelLayout::yuv420p, 320, 256, k_white);
        pic.fill(0, 0, 160, 120, k_red);
        pic.fill(160, 0, 160, 120, k_green);
        pic.fill(0, 120, 320, 120, k_blue);
        const auto pixels = draw(pic);
        expect_pixel(pixels, 320, 40, 30, {255, 0, 0});
        expect_pixel(pixels, 320, 280, 30, {0, 255, 0});
        expect_pixel(pixels, 320, 160, 200, {0, 0, 255});
        expect_pixel(pixels, 320, 160, 239, {0, 0, 255});  // no white row at the bottom edge
    }

    void shows_a_picture_of_a_new_size_whole() {
        using namespace pictures;
        // The first picture after a size change arrives with the old size; it
        // is still shown in full, not cut to a corner.
        OwnedPicture pic(PixelLayout::nv12, 640, 480, k_red);
        pic.fill(480, 360, 160, 120, k_green);
        const auto pixels = draw(pic);
        expect_pixel(pixels, 320, 300, 220, {0, 255, 0});
        expect_pixel(pixels, 320, 100, 100, {255, 0, 0});
    }

    void scales_to_the_window_with_black_bars() {
        using namespace pictures;
        LogCapture log;
        resize_window(640, 240);
        EXPECT_TRUE(log.contains(line("resizing 320x240 → 640x240")));
        const auto pixels = draw(OwnedPicture(PixelLayout::nv12, 320, 240, k_white));
        ASSERT_EQ(pixels.size(), 640u * 240u * 3u);
        // A 4:3 picture in a 8:3 window: 160 black columns on either side.
        for (const uint32_t x : {80, 560}) expect_pixel(pixels, 640, x, 120, {0, 0, 0}, 0);
        for (const uint32_t x : {170, 470}) expect_pixel(pixels, 640, x, 120, {255, 255, 255});
    }

    void snapshot_lasts_until_a_resize() {
        using namespace pictures;
        LogCapture log;
        EXPECT_FALSE(renderer().restore_snapshot());
        const OwnedPicture pic(PixelLayout::yuv420p, 320, 240, k_green);
        draw(pic);
        renderer().clear();
        expect_pixel(read_and_present(), 320, 10, 10, {0, 0, 0}, 0);
        ASSERT_TRUE(renderer().restore_snapshot());
        renderer().bind_render_target();
        expect_pixel(read_and_present(), 320, 10, 10, {0, 255, 0});

        // Same size: nothing happens, the snapshot stays.
        renderer().resize(320, 240);
        EXPECT_FALSE(log.contains(line("resizing")));
        EXPECT_TRUE(renderer().restore_snapshot());
        renderer().present();

        resize_window(400, 300);
        EXPECT_FALSE(renderer().restore_snapshot());
        // The next picture brings the snapshot back, at the new size.
        draw(pic);
        EXPECT_TRUE(renderer().restore_snapshot());
        expect_pixel(read_and_present(), 400, 200, 150, {0, 255, 0});
    }

    void refuses_bad_pictures_and_shutdown() {
        using namespace pictures;
        LogCapture log;
        EXPECT_EQ(renderer().render_frame(nullptr, 320, 240), 0.0f);
        OwnedPicture odd(PixelLayout::nv12, 320, 240);
        odd.picture.strides[1] = 321;  // NV12 chroma rows hold whole pairs
        OwnedPicture missing(PixelLayout::yuv420p, 320, 240);
        missing.picture.planes[2] = nullptr;
        OwnedPicture narrow(PixelLayout::yuv420p, 320, 240);
        narrow.picture.strides[0] = 100;  // rows shorter than the picture
        for (const auto* bad : {&odd, &missing, &narrow}) EXPECT_EQ(renderer().render_frame(&bad->picture, 320, 240), 0.0f);
        EXPECT_FALSE(renderer().restore_snapshot());
        renderer().present();  // ends the sequence: one frame

        const OwnedPicture pic(PixelLayout::nv12, 320, 240);
        draw(pic);
        renderer().shutdown();
        renderer().shutdown();
        EXPECT_EQ(log.count(line("shutdown (2 frames presented)")), 1u);
        EXPECT_EQ(renderer().render_frame(&pic.picture, 320, 240), 0.0f);
        EXPECT_FALSE(renderer().restore_snapshot());
        renderer().present();
        EXPECT_EQ(renderer().frames_presented(), 2u);
    }
};

}  // namespace nb::test
