#include "cua_actions/windows/screenshot_fit.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <random>
#include <string>

#include "cua_actions/windows/screenshot_capture.h"
#include "cua_actions/windows/screenshot_jpeg.h"
#include "support/area_average_reference.h"
#include "support/sim_desktop.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

std::vector<std::uint8_t> noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bgrx(static_cast<std::size_t>(width) * height * 4);
    for (std::uint8_t& byte : bgrx) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bgrx;
}

struct ResampleCase {
    int sw, sh, iw, ih;
};

TEST(ScreenshotFit, ResamplerMatchesTheExactAreaAverage) {
    const ResampleCase cases[] = {
        {1, 1, 1, 1},        {9, 1, 4, 1},
        {1, 9, 1, 2},        {7, 5, 3, 2},
        {5, 7, 1, 1},        {33, 17, 32, 16},
        {97, 61, 40, 25},    {16, 16, 16, 16},
        {640, 360, 157, 88}, {1920, 1080, 1568, 882},
        {3, 1000, 1, 333},
    };
    for (const ResampleCase& c : cases) {
        const std::vector<std::uint8_t> source = noise(c.sw, c.sh, c.sw * 31 + c.sh);
        const std::vector<std::uint8_t> image =
            resample_area_average(BgrxView{source.data(), c.sw, c.sh}, ImageSize{c.iw, c.ih});
        const std::vector<double> reference =
            sim::area_average_reference(source.data(), c.sw, c.sh, c.iw, c.ih);
        ASSERT_EQ(image.size(), static_cast<std::size_t>(c.iw) * c.ih * 4);
        int mismatches = 0;
        for (std::size_t p = 0; p < reference.size() / 3; ++p) {
            for (std::size_t ch = 0; ch < 3; ++ch) {
                const double exact = reference[p * 3 + ch];
                const int got = image[p * 4 + ch];
                // Only a value within a hair of a rounding tie may go either way.
                const bool tie = std::abs(exact - std::floor(exact) - 0.5) < 0.1;
                if (tie ? std::abs(got - exact) > 0.6 : got != std::lround(exact)) {
                    ++mismatches;
                }
            }
            mismatches += image[p * 4 + 3] != 0;
        }
        EXPECT_EQ(mismatches, 0) << c.sw << "x" << c.sh << " -> " << c.iw << "x" << c.ih;
    }
}

TEST(ScreenshotFit, FittedSizeKeepsTheAspectAndNeverEnlarges) {
    struct Case {
        ImageSize source;
        std::optional<std::int32_t> limit;
        ImageSize expected;
    };
    const Case cases[] = {
        {{1920, 1080}, 1568, {1568, 882}},
        {{1080, 1920}, 1568, {882, 1568}},
        {{3840, 2160}, 800, {800, 450}},
        {{800, 600}, 1568, {800, 600}},
        {{1568, 900}, 1568, {1568, 900}},
        {{4, 2}, 3, {3, 2}},  // 1.5 rounds up
        {{5, 3}, 2, {2, 1}},
        {{2000, 3}, 100, {100, 1}},
        {{2000, 1}, 10, {10, 1}},
        {{640, 480}, std::nullopt, {640, 480}},
        {{0, 0}, 5, {1, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fitted_size(c.source, c.limit), c.expected)
            << c.source.width << "x" << c.source.height;
    }
}

// Encodings whose size is the area times a rate per format and quality, plus a
// header; records what was asked for.
struct FakeEncoder {
    double png_rate = 3.0;
    std::size_t header = 300;
    std::vector<std::string> calls;

    FitEncoder encoder() {
        return [this](ImageSize size, ImageFormat format, int quality) {
            std::string call = std::string(format_name(format)) + "@" + std::to_string(size.width);
            if (format == ImageFormat::jpeg) {
                call.append(1, 'q').append(std::to_string(quality));
            }
            calls.push_back(call);
            const double rate = format == ImageFormat::png ? png_rate : quality / 100.0;
            EncodedImage image{format, size, quality, {}};
            image.bytes.resize(header + static_cast<std::size_t>(rate * size.width * size.height));
            return zelto::Result<EncodedImage>(image);
        };
    }
};

TEST(ScreenshotFit, BudgetPicksFormatQualityAndSize) {
    const ImageSize source{200, 100};
    struct Case {
        const char* name;
        FitRequest request;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"png fits", {std::nullopt, 60'300, FitFormat::automatic}, {"png@200"}},
        {"falls to jpeg", {std::nullopt, 17'300, FitFormat::automatic}, {"png@200", "jpeg@200q85"}},
        {"quality steps",
         {100, 3'600, FitFormat::automatic},
         {"png@100", "jpeg@100q85", "jpeg@100q75", "jpeg@100q65"}},
        {"no budget takes the first",
         {std::nullopt, std::nullopt, FitFormat::jpeg},
         {"jpeg@200q85"}},
        {"forced png has no budget", {50, std::nullopt, FitFormat::png}, {"png@50"}},
    };
    for (const Case& c : cases) {
        FakeEncoder fake;
        const auto result = fit_to_budget(source, c.request, fake.encoder());
        EXPECT_TRUE(result.ok()) << c.name;
        EXPECT_EQ(fake.calls, c.calls) << c.name;
    }
}

TEST(ScreenshotFit, BudgetShrinksTheImageWhenTheLowestQualityMisses) {
    for (const FitFormat format : {FitFormat::automatic, FitFormat::jpeg, FitFormat::png}) {
        FakeEncoder fake;
        const FitRequest request{std::nullopt, 5'000, format};
        const auto result = fit_to_budget(ImageSize{200, 100}, request, fake.encoder());
        ASSERT_TRUE(result.ok());
        const EncodedImage& image = *result;
        EXPECT_LE(image.bytes.size(), 5'000u);
        EXPECT_LT(image.size.width, 200);
        EXPECT_EQ(image.size, fitted_size({200, 100}, image.size.width)) << "aspect kept";
        EXPECT_EQ(image.format, format == FitFormat::png ? ImageFormat::png : ImageFormat::jpeg);
    }
}

TEST(ScreenshotFit, BudgetTooSmallForOnePixelFailsAndEncoderFailuresPassThrough) {
    FakeEncoder fake;
    const auto tiny =
        fit_to_budget({3840, 2160}, {std::nullopt, 100, FitFormat::jpeg}, fake.encoder());
    ASSERT_FALSE(tiny.ok());
    EXPECT_EQ(tiny.error(),
              "max_bytes 100 is too small: the smallest jpeg image of this display takes 300 "
              "bytes");
    EXPECT_EQ(fake.calls.back(), "jpeg@1q50");
    EXPECT_LT(fake.calls.size(), 40u);

    const FitEncoder broken = [](ImageSize, ImageFormat, int) {
        return zelto::Result<EncodedImage>(zelto::fail("JPEG encoding failed: no"));
    };
    const auto failed = fit_to_budget({10, 10}, {std::nullopt, 1, FitFormat::jpeg}, broken);
    EXPECT_EQ(failed.error(), "JPEG encoding failed: no");
}

TEST(ScreenshotFit, ParamsAreValidatedWithClearMessages) {
    struct Case {
        const char* params;
        const char* error;  // nullptr: accepted
    };
    const Case cases[] = {
        {R"({"max_size":0})", "max_size must be a positive integer, got 0"},
        {R"({"max_size":-5})", "max_size must be a positive integer, got -5"},
        {R"({"max_size":12.5})", "max_size must be a positive integer, got 12.5"},
        {R"({"max_size":"800"})", "max_size must be a positive integer, got \"800\""},
        {R"({"max_size":null})", "max_size must be a positive integer, got null"},
        {R"({"max_bytes":0})", "max_bytes must be a positive integer, got 0"},
        {R"({"max_bytes":true})", "max_bytes must be a positive integer, got true"},
        {R"({"format":"gif"})", R"(format must be "png", "jpeg" or "auto", got "gif")"},
        {R"({"format":"JPEG"})", R"(format must be "png", "jpeg" or "auto", got "JPEG")"},
        {R"({"format":1})", R"(format must be "png", "jpeg" or "auto", got 1)"},
        {R"({"max_size":800.0,"max_bytes":1e30,"format":"jpeg"})", nullptr},
        {R"({"format":"auto"})", nullptr},
    };
    for (const Case& c : cases) {
        const auto read = read_fit_request(Json::parse(c.params));
        ASSERT_TRUE(read.has_value()) << c.params;
        if (c.error != nullptr) {
            EXPECT_EQ(read->error(), c.error);
        } else {
            EXPECT_TRUE(read->ok()) << c.params;
        }
    }
    const FitRequest big =
        read_fit_request(Json::parse(R"({"max_size":800.0,"max_bytes":1e30,"format":"jpeg"})"))
            ->value();
    EXPECT_EQ(big.max_size, 800);
    EXPECT_EQ(big.max_bytes, std::numeric_limits<std::uint64_t>::max());
    EXPECT_FALSE(read_fit_request(Json::parse(R"({"display_id":"0,0,10,10"})")).has_value());
}

class FittedScreenshotTest : public ::testing::Test {
  protected:
    sim::ScopedSimDesktop desktop;
    void SetUp() override {
        desktop->monitors = {sim::SimMonitor{Rect{0, 0, 40, 30}, kMonitorInfoFlagPrimary}};
        sim::SimFrame& frame = desktop->screen_frame;
        frame = sim::SimFrame{0, 0, 40, 30, {}};
        frame.bgrx = noise(40, 30, 7);
    }
};

TEST_F(FittedScreenshotTest, JpegResultCarriesFormatAndHonestGeometry) {
    const ActionResult result = handle_screenshot(Json{{"max_size", 20}, {"format", "jpeg"}});
    ASSERT_EQ(result["ok"], true) << result.dump().substr(0, 200);
    const Json& data = result["data"];
    EXPECT_EQ(data, (Json{{"display_id", "0,0,40,30"},
                          {"format", "jpeg"},
                          {"height", 15},
                          {"image", data["image"]},
                          {"sourceHeight", 30},
                          {"sourceWidth", 40},
                          {"width", 20}}));
    const std::string url = data["image"].get<std::string>();
    const std::string prefix = "data:image/jpeg;base64,";
    ASSERT_EQ(url.substr(0, prefix.size()), prefix);
    const auto jpeg = text::base64_decode(url.substr(prefix.size()));
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_EQ(jpeg->substr(0, 2), "\xFF\xD8");
}

TEST_F(FittedScreenshotTest, BadParamsFailBeforeAnyCapture) {
    const ActionResult result = handle_screenshot(Json{{"max_bytes", -1}});
    EXPECT_EQ(result, error_result("max_bytes must be a positive integer, got -1"));
    EXPECT_TRUE(desktop->gdi_calls.empty());
}

TEST_F(FittedScreenshotTest, BlackFrameIsStillRefused) {
    std::fill(desktop->screen_frame.bgrx.begin(), desktop->screen_frame.bgrx.end(), 0);
    EXPECT_EQ(handle_screenshot(Json{{"max_size", 20}}), secure_desktop_result());
}

// A sample desktop as the capture delivers it (BGRX, fourth byte 0).
std::vector<std::uint8_t> load_sample_frame(const std::string& name, ImageSize& size) {
    const std::string path = std::string(ZELTO_SAMPLE_FRAMES_DIR) + "/" + name;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return {};
    }
    image.format = PNG_FORMAT_BGRA;
    std::vector<std::uint8_t> bgrx(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bgrx.data(), 0, nullptr)) {
        return {};
    }
    for (std::size_t i = 3; i < bgrx.size(); i += 4) {
        bgrx[i] = 0;
    }
    size =
        ImageSize{static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height)};
    return bgrx;
}

TEST(ScreenshotFit, SameImageAndVerdictWithAndWithoutAvx2AndThreads) {
    // One and two pairs of columns per pixel (AVX2), three (SSE2 only); the
    // 4K frame is large enough for threads, and its one-thread JPEG is made
    // from rows as they come.
    struct Case {
        const char* frame;
        FitRequest request;
    };
    const Case cases[] = {
        {"desk1080.png", {1568, std::nullopt, FitFormat::jpeg}},
        {"desk4k.png", {1568, std::nullopt, FitFormat::jpeg}},
        {"desk4k.png", {800, std::nullopt, FitFormat::png}},
    };
    const ResampleOptions variants[] = {{false, 1}, {true, 1}, {false, 3}, {true, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frame << " at " << *c.request.max_size);
        ImageSize source;
        const std::vector<std::uint8_t> frame = load_sample_frame(c.frame, source);
        ASSERT_FALSE(frame.empty()) << "sample frame missing";
        const BgrxView view{frame.data(), source.width, source.height};
        const BlackoutCount expected = count_dark_samples(view);
        const ImageSize size = fitted_size(source, c.request.max_size);
        std::vector<std::uint8_t> first_pixels;
        std::vector<std::uint8_t> first_encoded;
        for (const ResampleOptions& options : variants) {
            SCOPED_TRACE(::testing::Message()
                         << "avx2 " << options.allow_avx2 << " threads " << options.threads);
            BlackoutCount dark;
            const ResampledImage image = resample_judging(view, size, dark, options);
            EXPECT_EQ(dark.step, expected.step);
            EXPECT_EQ(dark.samples, expected.samples);
            EXPECT_EQ(dark.dark, expected.dark);
            const std::vector<std::uint8_t> pixels(image.view().pixels,
                                                   image.view().pixels + image.byte_count());
            const auto fitted = fit_screenshot(view, c.request, options);
            ASSERT_TRUE(fitted.ok() && fitted->has_value());
            if (first_pixels.empty()) {
                first_pixels = pixels;
                first_encoded = (*fitted)->bytes;
            } else {
                EXPECT_TRUE(pixels == first_pixels);
                EXPECT_TRUE((*fitted)->bytes == first_encoded);
            }
        }
    }
}

}  // namespace
}  // namespace cua_actions::windows
