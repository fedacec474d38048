#pragma once
// The pure half of the screenshot: the blackout test on the captured frame, the
// scale factor and box-average reduction, the BGRX -> RGBA conversion, the PNG
// encoder and the data URL. No platform calls here.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

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
// The whole reduced image (f = 1 copies the frame).
std::vector<std::uint8_t> reduce_box_average(BgrxView frame, int factor);

// BGRX -> RGBA with alpha 255, `pixel_count` pixels.
void bgrx_to_rgba_row(const std::uint8_t* bgrx, std::size_t pixel_count, std::uint8_t* rgba);
std::vector<std::uint8_t> bgrx_to_rgba(BgrxView frame);

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

// What compresses the image data. Both are fast settings; zlib's level 1 is
// kept to compare against.
enum class PngDeflater { fast, zlib };

struct PngOptions {
    // Worker threads for filtering and compressing strips of rows; 0 means
    // one per hardware thread.
    unsigned threads = 0;
    // Output rows per independently compressed strip; 0 picks from the size.
    std::int32_t strip_rows = 0;
    PngDeflater deflater = PngDeflater::fast;
};

enum class PngFailure { header, image_data };

struct PngError {
    PngFailure stage = PngFailure::header;
    std::string message;  // the encoder's own description
};

// Encodes the frame reduced by `factor` as an 8-bit RGBA PNG (alpha 255, not
// interlaced, only IHDR, IDAT and IEND, every row Sub-filtered, fastest
// compression). Strips of rows are filtered and deflated in parallel and
// joined into one zlib stream. An empty frame encodes as one black pixel.
[[nodiscard]] std::variant<std::monostate, PngError> encode_png(BgrxView frame, int factor,
                                                                PngSink& sink,
                                                                const PngOptions& options = {});

// "data:image/png;base64," followed by the bytes in padded standard base64.
std::string png_data_url(std::span<const std::uint8_t> png);

}  // namespace cua_actions::windows
