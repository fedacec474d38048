#include "cua_actions/windows/screenshot_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "support/screenshot_png_readback.h"
#include "support/screenshot_reference.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// A frame whose pixels differ from each other, with a fourth byte that must never show.
std::vector<std::uint8_t> pattern_frame(std::int32_t width, std::int32_t height,
                                        std::uint8_t fourth = 0x5A) {
    std::vector<std::uint8_t> bgrx(static_cast<std::size_t>(width) * height * 4);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = &bgrx[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(x * 7 + y * 3);
            p[1] = static_cast<std::uint8_t>(x * x + y);
            p[2] = static_cast<std::uint8_t>(200 + x - y * 5);
            p[3] = fourth;
        }
    }
    return bgrx;
}

BgrxView view(const std::vector<std::uint8_t>& bgrx, std::int32_t width, std::int32_t height) {
    return BgrxView{bgrx.data(), width, height};
}

// --- blackout test ---------------------------------------------------------------

struct SampleCase {
    std::int32_t width;
    std::int32_t height;
    std::size_t step;
    std::size_t samples;
};

TEST(BlackoutTest, StepAndSampleCountFollowTheFrameSize) {
    const SampleCase cases[] = {
        {1920, 1080, 506, 4099},
        {3840, 2160, 2025, 4096},
        {3, 3, 1, 9},
        {64, 64, 1, 4096},
        {8191, 1, 1, 8191},
        {8192, 1, 2, 4096},
        {2560, 1440, 900, 4096},
        {1, 1, 1, 1},
    };
    for (const SampleCase& c : cases) {
        const std::vector<std::uint8_t> frame(static_cast<std::size_t>(c.width) * c.height * 4);
        const BlackoutCount count = count_dark_samples(view(frame, c.width, c.height));
        EXPECT_EQ(count.step, c.step) << c.width << "x" << c.height;
        EXPECT_EQ(count.samples, c.samples) << c.width << "x" << c.height;
        EXPECT_EQ(count.dark, c.samples) << "an all-zero frame is all dark";
    }
}

TEST(BlackoutTest, EveryPixelOfASmallFrameIsSampled) {
    // 8,191 pixels: a single lit pixel anywhere is seen.
    for (std::size_t lit : {std::size_t{0}, std::size_t{4000}, std::size_t{8190}}) {
        std::vector<std::uint8_t> frame(8191 * 4);
        frame[lit * 4 + 1] = 200;
        const BlackoutCount count = count_dark_samples(view(frame, 8191, 1));
        EXPECT_EQ(count.samples - count.dark, 1u) << lit;
    }
}

TEST(BlackoutTest, OnlySamplePositionsCount) {
    // 1920x1080 samples every 506th pixel: lighting the pixels between them changes nothing.
    std::vector<std::uint8_t> frame(1920 * 1080 * 4, 0xFF);
    for (std::size_t i = 0; i < 1920 * 1080; i += 506) {
        std::memset(&frame[i * 4], 0, 4);
    }
    const BlackoutCount count = count_dark_samples(view(frame, 1920, 1080));
    EXPECT_EQ(count.dark, 4099u);
    EXPECT_TRUE(is_blackout(count));
}

TEST(BlackoutTest, DarkMeansEveryColourChannelBelowFour) {
    struct PixelCase {
        std::uint8_t bgrx[4];
        bool dark;
    };
    const PixelCase cases[] = {
        {{3, 3, 3, 0}, true},  {{0, 0, 0, 255}, true},      {{1, 2, 3, 9}, true},
        {{4, 0, 0, 0}, false}, {{0, 4, 0, 0}, false},       {{0, 0, 4, 0}, false},
        {{3, 3, 4, 0}, false}, {{255, 255, 255, 0}, false},
    };
    for (const PixelCase& c : cases) {
        const std::vector<std::uint8_t> frame(c.bgrx, c.bgrx + 4);
        EXPECT_EQ(count_dark_samples(view(frame, 1, 1)).dark, c.dark ? 1u : 0u)
            << int(c.bgrx[0]) << "," << int(c.bgrx[1]) << "," << int(c.bgrx[2]);
    }
}

TEST(BlackoutTest, RefusedFromNinetyNinePointFivePercentDark) {
    struct RatioCase {
        std::int32_t width;
        std::int32_t height;
        std::size_t lit_samples;
        bool refused;
    };
    const RatioCase cases[] = {
        {1000, 1, 5, true},       // exactly 99.5 %
        {1000, 1, 6, false},      // 99.4 %
        {1000, 1, 0, true},       // all dark
        {1920, 1080, 20, true},   // 4,079 of 4,099 dark: 995.1 per mille
        {1920, 1080, 21, false},  // 4,078 of 4,099 dark: 994.9 per mille
    };
    for (const RatioCase& c : cases) {
        std::vector<std::uint8_t> frame(static_cast<std::size_t>(c.width) * c.height * 4);
        const std::size_t step = blackout_step(frame.size());
        for (std::size_t i = 0; i < c.lit_samples; ++i) {
            frame[i * step * 4 + 2] = 4;  // red 4: just not dark
        }
        const BlackoutCount count = count_dark_samples(view(frame, c.width, c.height));
        EXPECT_EQ(count.samples - count.dark, c.lit_samples);
        EXPECT_EQ(is_blackout(count), c.refused) << c.width << " lit " << c.lit_samples;
    }
}

// --- scale factor and reduction -----------------------------------------------

TEST(ScaleFactor, ThresholdsOnTheLargerSide) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
        int factor;
        ImageSize out;
    };
    const Case cases[] = {
        {2200, 1000, 1, {2200, 1000}},
        {2201, 1000, 2, {1100, 500}},
        {1000, 2201, 2, {500, 1100}},
        {7679, 100, 2, {3839, 50}},
        {7680, 100, 4, {1920, 25}},
        {3, 3, 1, {3, 3}},
        {1920, 1080, 1, {1920, 1080}},
        {2560, 1440, 2, {1280, 720}},
        {3840, 2160, 2, {1920, 1080}},
        {7680, 4320, 4, {1920, 1080}},
        {2201, 1, 2, {1100, 1}},
        {8000, 3, 4, {2000, 1}},
        {0, 0, 1, {1, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scale_factor(c.width, c.height), c.factor) << c.width << "x" << c.height;
        EXPECT_EQ(output_size(c.width, c.height, c.factor), c.out) << c.width << "x" << c.height;
    }
}

TEST(Reduction, BoxAveragesTruncateAndSkipTheLeftoverColumnAndRow) {
    // 5x3 at f = 2 gives 2x1: column 4 and row 2 are not used.
    std::vector<std::uint8_t> frame(5 * 3 * 4, 0);
    auto set = [&](int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
        std::uint8_t* p = &frame[(y * 5 + x) * 4];
        p[0] = b, p[1] = g, p[2] = r, p[3] = 0xEE;
    };
    set(0, 0, 0, 10, 255), set(1, 0, 1, 20, 255), set(0, 1, 1, 30, 254), set(1, 1, 1, 41, 254);
    set(2, 0, 100, 0, 0), set(3, 0, 101, 0, 0), set(2, 1, 102, 0, 0), set(3, 1, 103, 0, 0);
    for (int y = 0; y < 3; ++y) {
        set(4, y, 255, 255, 255);  // unused column
    }
    for (int x = 0; x < 5; ++x) {
        set(x, 2, 255, 255, 255);  // unused row
    }
    const std::vector<std::uint8_t> reduced = sim::reduce_box_average(view(frame, 5, 3), 2);
    const std::vector<std::uint8_t> expected = {
        0,   25, 254, 0,  // (0+1+1+1)/4 = 0, 101/4 = 25, 1018/4 = 254
        101, 0,  0,   0,  // 406/4 = 101
    };
    EXPECT_EQ(reduced, expected);
}

TEST(Reduction, MatchesThePlainBlockMeanAtEveryWidth) {
    // Widths around the four-pixel groups of the fast path, odd heights, and a
    // fourth byte that must not leak into the result.
    for (const int factor : {2, 4}) {
        for (std::int32_t width = 1; width <= 41; ++width) {
            for (const std::int32_t height : {1, 2, 3, 5, 8}) {
                const std::vector<std::uint8_t> frame = pattern_frame(width, height, 0xC3);
                const ImageSize size = output_size(width, height, factor);
                std::vector<std::uint8_t> expected;
                for (std::int32_t oy = 0; oy < size.height; ++oy) {
                    for (std::int32_t ox = 0; ox < size.width; ++ox) {
                        unsigned sum[3] = {};
                        unsigned taken = 0;
                        for (std::int32_t y = oy * factor; y < std::min(height, (oy + 1) * factor);
                             ++y) {
                            for (std::int32_t x = ox * factor;
                                 x < std::min(width, (ox + 1) * factor); ++x, ++taken) {
                                for (int ch = 0; ch < 3; ++ch) {
                                    sum[ch] +=
                                        frame[(static_cast<std::size_t>(y) * width + x) * 4 + ch];
                                }
                            }
                        }
                        for (int ch = 0; ch < 3; ++ch) {
                            expected.push_back(static_cast<std::uint8_t>(sum[ch] / taken));
                        }
                        expected.push_back(0);
                    }
                }
                ASSERT_EQ(sim::reduce_box_average(view(frame, width, height), factor), expected)
                    << width << "x" << height << " f" << factor;
            }
        }
    }
}

TEST(Reduction, ADimensionSmallerThanTheFactorUsesWhatExists) {
    // 3x1 at f = 4: one pixel, the mean of the three that exist.
    const std::vector<std::uint8_t> frame = {30, 0, 9, 0, 60, 3, 9, 0, 91, 0, 9, 0};
    EXPECT_EQ(sim::reduce_box_average(view(frame, 3, 1), 4),
              (std::vector<std::uint8_t>{60, 1, 9, 0}));
}

TEST(Reduction, FactorFourAveragesSixteenPixels) {
    std::vector<std::uint8_t> frame(4 * 4 * 4, 0);
    for (int i = 0; i < 16; ++i) {
        frame[i * 4 + 0] = static_cast<std::uint8_t>(i);        // 0..15: sum 120, mean 7
        frame[i * 4 + 2] = static_cast<std::uint8_t>(240 + i);  // mean 247
    }
    EXPECT_EQ(sim::reduce_box_average(view(frame, 4, 4), 4),
              (std::vector<std::uint8_t>{7, 0, 247, 0}));
}

TEST(Conversion, SwapsToRgbaWithOpaqueAlpha) {
    const std::vector<std::uint8_t> frame = {1, 2, 3, 0, 10, 20, 30, 0x80, 0, 0, 0, 0xFF};
    EXPECT_EQ(sim::bgrx_to_rgba(view(frame, 3, 1)),
              (std::vector<std::uint8_t>{3, 2, 1, 255, 30, 20, 10, 255, 0, 0, 0, 255}));
}

// --- PNG ------------------------------------------------------------------------------

struct EncodeCase {
    std::int32_t width;
    std::int32_t height;
    int factor;
    unsigned threads;
    std::int32_t strip_rows;
};

template <std::size_t N>
std::vector<std::pair<EncodeCase, StripDeflater>> with_each_deflater(const EncodeCase (&cases)[N]) {
    std::vector<std::pair<EncodeCase, StripDeflater>> all;
    for (const EncodeCase& c : cases) {
        all.emplace_back(c, nullptr);
        all.emplace_back(c, sim::zlib_deflate_strip);
    }
    return all;
}

TEST(PngEncoder, DecodesToTheExpectedPixelsWithOnlyAllowedChunksAndSubRows) {
    const EncodeCase cases[] = {
        {37, 23, 1, 1, 0},  {37, 23, 1, 2, 1},  {37, 23, 1, 3, 5},  {37, 23, 1, 8, 22},
        {64, 64, 2, 2, 7},  {75, 41, 2, 2, 0},  {81, 33, 4, 3, 2},  {1, 1, 1, 2, 0},
        {3, 3, 1, 1, 0},    {4401, 1, 2, 2, 0}, {3, 2201, 2, 2, 0}, {300, 200, 1, 0, 0},
        {2201, 4, 2, 2, 1},
    };
    for (const auto& [c, deflater] : with_each_deflater(cases)) {
        SCOPED_TRACE(::testing::Message()
                     << c.width << "x" << c.height << " f" << c.factor << " threads " << c.threads
                     << " strip " << c.strip_rows << " zlib " << (deflater != nullptr));
        const std::vector<std::uint8_t> frame = pattern_frame(c.width, c.height);
        VectorPngSink sink;
        const auto result = encode_png(view(frame, c.width, c.height), c.factor, sink,
                                       PngOptions{c.threads, c.strip_rows, deflater});
        ASSERT_TRUE(result.ok()) << result.error();

        const sim::PngReadBack png = sim::read_back_png(sink.bytes);
        ASSERT_TRUE(png.ok) << png.error;
        EXPECT_EQ(sim::chunk_summary(png), "IHDR IDAT IEND");
        const ImageSize out = output_size(c.width, c.height, c.factor);
        EXPECT_EQ(png.width, static_cast<std::uint32_t>(out.width));
        EXPECT_EQ(png.height, static_cast<std::uint32_t>(out.height));
        EXPECT_EQ(png.bit_depth, 8);
        EXPECT_EQ(png.color_type, 6);
        EXPECT_EQ(png.interlace, 0);
        EXPECT_EQ(png.zlib_header, (std::vector<std::uint8_t>{0x78, 0x01}));
        EXPECT_EQ(png.row_filters, std::vector<std::uint8_t>(out.height, 1));

        const std::vector<std::uint8_t> reduced =
            sim::reduce_box_average(view(frame, c.width, c.height), c.factor);
        EXPECT_EQ(png.rgba, sim::bgrx_to_rgba(view(reduced, out.width, out.height)));
    }
}

TEST(PngEncoder, AnnouncesTheExactFileSizeBeforeTheImageData) {
    class CountingSink final : public PngSink {
      public:
        bool write(const std::uint8_t*, std::size_t size) override {
            written += size;
            return true;
        }
        void expect_total(std::size_t total) override { expected = total; }
        std::size_t written = 0;
        std::size_t expected = 0;
    };
    for (const std::int32_t rows : {1, 7, 64}) {
        const std::vector<std::uint8_t> frame = pattern_frame(33, 64);
        CountingSink sink;
        ASSERT_TRUE(encode_png(view(frame, 33, 64), 1, sink, PngOptions{2, rows}).ok());
        EXPECT_EQ(sink.expected, sink.written) << rows;
    }
}

TEST(PngEncoder, EmptyFrameBecomesOneOpaqueBlackPixel) {
    VectorPngSink sink;
    ASSERT_TRUE(encode_png(BgrxView{nullptr, 0, 0}, 1, sink).ok());
    const sim::PngReadBack png = sim::read_back_png(sink.bytes);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(png.rgba, (std::vector<std::uint8_t>{0, 0, 0, 255}));
}

class FailingSink final : public PngSink {
  public:
    explicit FailingSink(std::size_t allowed) : allowed_(allowed) {}
    bool write(const std::uint8_t*, std::size_t size) override {
        if (size > allowed_) {
            return false;
        }
        allowed_ -= size;
        return true;
    }

  private:
    std::size_t allowed_;
};

TEST(PngEncoder, FailuresNameTheirStepAndTheEncodersText) {
    const std::vector<std::uint8_t> frame = pattern_frame(8, 8);
    {
        FailingSink sink(0);
        const auto result = encode_png(view(frame, 8, 8), 1, sink);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), "PNG header failed: write failed");
    }
    {
        // Signature (8) and IHDR (25) fit, the image data does not.
        FailingSink sink(33);
        const auto result = encode_png(view(frame, 8, 8), 1, sink);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), "PNG encoding failed: write failed");
    }
    {
        // libpng refuses widths beyond its limit in IHDR.
        const std::vector<std::uint8_t> wide(1'000'001 * 4, 0x40);
        VectorPngSink sink;
        const auto result = encode_png(view(wide, 1'000'001, 1), 1, sink);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), "PNG header failed: Invalid IHDR data");
    }
}

TEST(DataUrl, PrefixAndPaddedBase64OfTheBytes) {
    const std::vector<std::uint8_t> bytes = {0x89, 'P', 'N', 'G', 0xFF};
    const std::string url = png_data_url(bytes);
    EXPECT_EQ(url, "data:image/png;base64,iVBOR/8=");
    const auto decoded = text::base64_decode(url.substr(22));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, std::string(bytes.begin(), bytes.end()));
}

}  // namespace
}  // namespace cua_actions::windows
