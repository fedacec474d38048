#include "cua_actions/windows/screenshot_capture.h"

#include <gtest/gtest.h>

#include "cua_actions/windows/dispatcher.h"
#include "cua_actions/windows/screenshot_encode.h"
#include "support/screenshot_png_readback.h"
#include "support/screenshot_reference.h"
#include "support/sim_desktop.h"
#include "text/json_output.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr char kBlackoutLine[] =
    "[CUA-screenshot-win] secure desktop blackout detected; refusing black frame screenshot";

class ScreenshotTest : public ::testing::Test {
  protected:
    sim::ScopedSimDesktop desktop;

    void use_monitors(std::vector<sim::SimMonitor> monitors) {
        desktop->monitors = std::move(monitors);
    }
    static sim::SimMonitor monitor(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                                   bool primary) {
        return sim::SimMonitor{Rect{x, y, x + w, y + h}, primary ? kMonitorInfoFlagPrimary : 0u};
    }
    // Paints the virtual-screen rectangle with a pattern that depends on the
    // global coordinates, so a capture of the wrong place shows.
    void paint_screen(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height,
                      std::uint8_t fourth = 0x33) {
        sim::SimFrame& frame = desktop->screen_frame;
        frame = sim::SimFrame{left, top, width, height, {}};
        frame.bgrx.resize(static_cast<std::size_t>(width) * height * 4);
        for (std::int32_t y = 0; y < height; ++y) {
            for (std::int32_t x = 0; x < width; ++x) {
                std::uint8_t* p = &frame.bgrx[(static_cast<std::size_t>(y) * width + x) * 4];
                const std::int32_t gx = left + x;
                const std::int32_t gy = top + y;
                p[0] = static_cast<std::uint8_t>(gx);
                p[1] = static_cast<std::uint8_t>(gy);
                p[2] = static_cast<std::uint8_t>(64 + (gx ^ gy));
                p[3] = fourth;
            }
        }
    }
    // The screen's pixels of a rectangle, as RGBA, the way the image must show them.
    std::vector<std::uint8_t> expected_rgba(std::int32_t x, std::int32_t y, std::int32_t width,
                                            std::int32_t height) {
        std::vector<std::uint8_t> rgba;
        for (std::int32_t row = 0; row < height; ++row) {
            for (std::int32_t column = 0; column < width; ++column) {
                const std::int32_t gx = x + column;
                const std::int32_t gy = y + row;
                rgba.insert(rgba.end(),
                            {static_cast<std::uint8_t>(64 + (gx ^ gy)),
                             static_cast<std::uint8_t>(gy), static_cast<std::uint8_t>(gx), 255});
            }
        }
        return rgba;
    }
    static sim::PngReadBack decode_image(const ActionResult& result) {
        const std::string url = result["data"]["image"].get<std::string>();
        const std::string prefix = "data:image/png;base64,";
        EXPECT_EQ(url.substr(0, prefix.size()), prefix);
        const auto bytes = text::base64_decode(url.substr(prefix.size()));
        EXPECT_TRUE(bytes.has_value());
        const std::string& png = bytes ? *bytes : prefix;
        return sim::read_back_png(
            std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()));
    }
};

TEST_F(ScreenshotTest, CapturesTheDefaultDisplayWithItsGeometry) {
    use_monitors({monitor(0, 0, 40, 30, true)});
    paint_screen(0, 0, 40, 30);
    const ActionResult result = handle_screenshot(Json::object());
    ASSERT_EQ(result["ok"], true) << result.dump();
    const Json& data = result["data"];
    EXPECT_EQ(data["width"], 40);
    EXPECT_EQ(data["height"], 30);
    EXPECT_EQ(data["sourceWidth"], 40);
    EXPECT_EQ(data["sourceHeight"], 30);
    EXPECT_TRUE(data["scaleFactor"].is_number_integer());
    EXPECT_EQ(data["scaleFactor"], 1);
    EXPECT_EQ(data["display_id"], "0,0,40,30");
    EXPECT_EQ(data.size(), 7u);
    const std::string line = text::json_dump(result);
    EXPECT_EQ(line.find("{\"data\":{\"display_id\":\"0,0,40,30\",\"height\":30,\"image\":\"data:"),
              0u)
        << line.substr(0, 80);

    const sim::PngReadBack png = decode_image(result);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(sim::chunk_summary(png), "IHDR IDAT IEND");
    EXPECT_EQ(png.rgba, expected_rgba(0, 0, 40, 30)) << "alpha 255 whatever the fourth byte";
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

TEST_F(ScreenshotTest, GdiCallsAndReleasesFollowTheFixedOrder) {
    use_monitors({monitor(0, 0, 1920, 1080, true), monitor(-64, 16, 64, 48, false)});
    paint_screen(-64, 0, 64, 80);
    const DisplayInfo display{-64, 16, 64, 48, false};
    const auto frame = capture_display(display);
    ASSERT_TRUE(frame.has_value());
    const std::vector<std::string> expected = {
        "GetDC(0)",
        "CreateCompatibleDC",
        "CreateCompatibleBitmap(64,48)",
        "SelectObject(bitmap)",
        "BitBlt(0,0,64,48,-64,16,13369376)",
        "GetDIBits(0,48,64,-48,0)",  // top-down 32-bit description, DIB_RGB_COLORS
        "SelectObject(stock)",
        "DeleteObject",
        "DeleteDC",
        "ReleaseDC(0)",
    };
    EXPECT_EQ(desktop->gdi_calls, expected);
    EXPECT_TRUE(desktop->gdi_objects.empty());
    EXPECT_EQ(sim::bgrx_to_rgba(BgrxView{frame->data(), 64, 48}), expected_rgba(-64, 16, 64, 48));
}

TEST_F(ScreenshotTest, DisplayLeftOfThePrimaryReportsItsNegativeOrigin) {
    use_monitors({monitor(0, 0, 1920, 1080, true), monitor(-1920, 0, 1920, 1080, false)});
    paint_screen(-1920, 0, 3840, 1080);
    const ActionResult result = handle_screenshot(Json{{"display_id", "-1920,0,1920,1080"}});
    ASSERT_EQ(result["ok"], true) << result.dump().substr(0, 200);
    EXPECT_EQ(result["data"]["display_id"], "-1920,0,1920,1080");
    EXPECT_EQ(result["data"]["width"], 1920);
    const sim::PngReadBack png = decode_image(result);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(png.rgba, expected_rgba(-1920, 0, 1920, 1080));
}

TEST_F(ScreenshotTest, MissingScreenContextFailsWithNothingElseCalled) {
    desktop->capture_fail.get_dc = true;
    const ActionResult result = handle_screenshot(Json::object());
    EXPECT_EQ(text::json_dump(result), R"({"error":"GetDC failed","ok":false})");
    EXPECT_EQ(desktop->gdi_calls, std::vector<std::string>{"GetDC(0)"});
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

TEST_F(ScreenshotTest, BlackScreenIsRefusedAsTheSecureDesktop) {
    // Nothing painted: the whole screen reads black.
    const ActionResult result = handle_screenshot(Json::object());
    EXPECT_EQ(text::json_dump(result),
              std::string(R"({"data":{"code":"windows_secure_desktop_blocked"},"error":")") +
                  "Windows secure desktop is active (for example a UAC confirmation dialog). "
                  "Screenshot and input are blocked by the OS. Please confirm or dismiss the "
                  "system dialog manually, then retry." +
                  R"(","ok":false})");
    EXPECT_EQ(desktop->stderr_lines, std::vector<std::string>{kBlackoutLine});
    EXPECT_TRUE(desktop->gdi_objects.empty());
}

TEST_F(ScreenshotTest, FailedCopyOrReadLeavesABlackFrameAndReleasesEverything) {
    struct FailureCase {
        const char* name;
        bool sim::SimCaptureFailures::*flag;
    };
    const FailureCase cases[] = {
        {"CreateCompatibleDC", &sim::SimCaptureFailures::create_compatible_dc},
        {"CreateCompatibleBitmap", &sim::SimCaptureFailures::create_compatible_bitmap},
        {"SelectObject", &sim::SimCaptureFailures::select_object},
        {"BitBlt", &sim::SimCaptureFailures::bit_blt},
        {"GetDIBits", &sim::SimCaptureFailures::get_di_bits},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ScopedSimDesktop fresh;
        fresh->monitors = {monitor(0, 0, 32, 32, true)};
        fresh->screen_frame =
            sim::SimFrame{0, 0, 32, 32, std::vector<std::uint8_t>(32 * 32 * 4, 200)};
        fresh->capture_fail.*c.flag = true;
        const ActionResult result = handle_screenshot(Json::object());
        EXPECT_EQ(result["data"]["code"], kSecureDesktopCode);
        EXPECT_EQ(fresh->stderr_lines, std::vector<std::string>{kBlackoutLine});
        EXPECT_TRUE(fresh->gdi_objects.empty()) << fresh->gdi_objects.size() << " objects leaked";
        EXPECT_EQ(fresh->gdi_calls.back(), "ReleaseDC(0)");
    }
}

TEST_F(ScreenshotTest, NearlyBlackFramePassesJustBelowTheThreshold) {
    // 40x25 = 1,000 pixels, all sampled: 6 lit pixels (99.4 % dark) pass, 5 are refused.
    use_monitors({monitor(0, 0, 40, 25, true)});
    for (int lit : {6, 5}) {
        desktop->screen_frame = sim::SimFrame{0, 0, 40, 25, std::vector<std::uint8_t>(4000, 3)};
        for (int i = 0; i < lit; ++i) {
            desktop->screen_frame.bgrx[i * 4 * 97 + 1] = 4;
        }
        desktop->stderr_lines.clear();
        const ActionResult result = handle_screenshot(Json::object());
        EXPECT_EQ(result["ok"], lit == 6) << lit;
        EXPECT_EQ(desktop->stderr_lines.size(), lit == 6 ? 0u : 1u);
    }
}

TEST_F(ScreenshotTest, LargeDisplaysAreReducedByTheirFactor) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
        int factor;
        std::int32_t out_width;
        std::int32_t out_height;
    };
    const Case cases[] = {
        {2200, 100, 1, 2200, 100},
        {2201, 100, 2, 1100, 50},
        {7680, 20, 4, 1920, 5},
        {3, 3, 1, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
        use_monitors({monitor(0, 0, c.width, c.height, true)});
        paint_screen(0, 0, c.width, c.height);
        const ActionResult result = handle_screenshot(Json::object());
        ASSERT_EQ(result["ok"], true);
        EXPECT_EQ(result["data"]["scaleFactor"], c.factor);
        EXPECT_EQ(result["data"]["width"], c.out_width);
        EXPECT_EQ(result["data"]["height"], c.out_height);
        EXPECT_EQ(result["data"]["sourceWidth"], c.width);
        EXPECT_EQ(result["data"]["sourceHeight"], c.height);
        const sim::PngReadBack png = decode_image(result);
        ASSERT_TRUE(png.ok) << png.error;
        const auto& frame = desktop->screen_frame.bgrx;
        const auto reduced =
            sim::reduce_box_average(BgrxView{frame.data(), c.width, c.height}, c.factor);
        EXPECT_EQ(png.rgba, sim::bgrx_to_rgba(BgrxView{reduced.data(), c.out_width, c.out_height}));
    }
}

TEST_F(ScreenshotTest, ThousandCapturesLeaveTheHandleTableEmpty) {
    use_monitors({monitor(0, 0, 16, 16, true)});
    paint_screen(0, 0, 16, 16);
    const Handle first = desktop->next_gdi_handle;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(capture_display(DisplayInfo{0, 0, 16, 16, true}).has_value());
    }
    EXPECT_EQ(desktop->next_gdi_handle - first, 3000u) << "three objects per capture";
    EXPECT_TRUE(desktop->gdi_objects.empty());
}

TEST_F(ScreenshotTest, EmptyRectangleReadsNoPixels) {
    const auto frame = capture_display(DisplayInfo{0, 0, 0, 0, true});
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(frame->empty());
    for (const std::string& call : desktop->gdi_calls) {
        EXPECT_EQ(call.find("GetDIBits"), std::string::npos);
    }
    EXPECT_TRUE(desktop->gdi_objects.empty());
}

TEST_F(ScreenshotTest, DispatcherRoutesScreenshotWithDefaultDisplayForNonObjectParams) {
    use_monitors({monitor(0, 0, 8, 8, true)});
    paint_screen(0, 0, 8, 8);
    for (const Json& params : {Json(nullptr), Json::array({1, 2}), Json{{"display_id", 5}}}) {
        const ActionResult result = dispatch("screenshot", params);
        ASSERT_EQ(result["ok"], true) << result.dump();
        EXPECT_EQ(result["data"]["display_id"], "0,0,8,8");
    }
}

}  // namespace
}  // namespace cua_actions::windows
