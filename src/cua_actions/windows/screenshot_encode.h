#pragma once
// The pure half of the screenshot: the blackout test on the captured frame, the
// scale factor and box-average reduction, the PNG encoder and the data URL. No
// platform calls here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"

namespace cua_actions::windows {

// A captured frame: rows top-down, 4 bytes per pixel (blue, green, red, unused),
// no padding between rows.
struct BgrxView {
    const std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// --- blackout test ----------------------------------------------------------

struct BlackoutCount {
    std::size_t step = 0;     // s: distance in pixels between samples
    std::size_t samples = 0;  // N
    std::size_t dark = 0;     // D
};

// A sample whose blue, green and red are all below 4.
inline bool is_dark_pixel(const std::uint8_t* bgrx) {
    return (bgrx[0] | bgrx[1] | bgrx[2]) < 4;
}

// Refused at D * 1000 >= N * 995: at least 99.5 % of the samples dark.
inline constexpr std::size_t kBlackoutDarkPerMille = 995;

// s = max(1, byte_count / 16384): between 4,096 and 8,191 samples for frames of
// 4,096 pixels or more, every pixel of a smaller one.
std::size_t blackout_step(std::size_t byte_count);
// Samples pixels 0, s, 2s, ... of the frame and counts those whose blue, green
// and red are all below 4.
BlackoutCount count_dark_samples(BgrxView frame);
// At least 99.5 % of the samples dark: the frame the secure desktop delivers.
bool is_blackout(const BlackoutCount& count);

// --- reduction and conversion ----------------------------------------------

// f: 1 below 2201 pixels on the larger side, 2 below 7680, else 4.
int scale_factor(std::int32_t width, std::int32_t height);

struct ImageSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const ImageSize&, const ImageSize&) = default;
};
// max(1, side / f) on each side.
ImageSize output_size(std::int32_t width, std::int32_t height, int factor);

// One output row of the reduced image, BGRX: each pixel is the per-channel
// integer mean of the f x f source block, clipped to the frame. The fourth
// byte of the result is 0. `out` holds output width pixels.
void reduce_row(BgrxView frame, int factor, std::int32_t out_row, std::span<std::uint8_t> out);

// --- PNG ---------------------------------------------------------------------

// Where the encoded bytes go. A refused write fails the encoding at the step
// that made it (header or image data).
class PngSink {
  public:
    virtual ~PngSink() = default;
    [[nodiscard]] virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // The whole file's size, told once before the image data is written.
    virtual void expect_total(std::size_t /*bytes*/) {}
};

class VectorPngSink final : public PngSink {
  public:
    bool write(const std::uint8_t* data, std::size_t size) override;
    void expect_total(std::size_t total) override { bytes.reserve(total); }
    std::vector<std::uint8_t> bytes;
};

// Compresses one strip of filtered rows into raw deflate blocks in `out`
// (allocated by it) and returns their size. A strip other than the last ends
// on a byte boundary, so the strips join into one stream. The encoder's own
// deflate is used when none is given; tests and the benchmark hand in others
// to compare.
using StripDeflater = zelto::Result<std::size_t> (*)(const std::uint8_t* rows, std::size_t size,
                                                     bool last,
                                                     std::unique_ptr<std::uint8_t[]>& out);

struct PngOptions {
    // Worker threads for filtering and compressing strips of rows; 0 means
    // one per hardware thread.
    unsigned threads = 0;
    // Output rows per independently compressed strip; 0 picks from the size.
    std::int32_t strip_rows = 0;
    StripDeflater deflater = nullptr;
};

// Encodes the frame reduced by `factor` as an 8-bit RGBA PNG (alpha 255, not
// interlaced, only IHDR, IDAT and IEND, every row Sub-filtered, fastest
// compression). Strips of rows are filtered and deflated in parallel and
// joined into one zlib stream. An empty frame encodes as one black pixel.
// Fails with "PNG header failed: {}" or "PNG encoding failed: {}", {} the
// encoder's own description.
[[nodiscard]] zelto::Status encode_png(BgrxView frame, int factor, PngSink& sink,
                                       const PngOptions& options = {});

// "data:image/png;base64," followed by the bytes in padded standard base64.
std::string png_data_url(std::span<const std::uint8_t> png);

}  // namespace cua_actions::windows
