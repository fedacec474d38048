#include "cua_actions/windows/screenshot_encode.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>

#include "cua_actions/windows/screenshot_deflate.h"
#include "cua_actions/windows/simd.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::size_t kBytesPerPixel = 4;
// Bytes of frame per blackout sample: keeps the sample count between 4,096 and 8,191.
constexpr std::size_t kBlackoutBytesPerSample = 16384;

constexpr std::int32_t kHalveFrom = 2201;
constexpr std::int32_t kQuarterFrom = 7680;

constexpr char kDataUrlPrefix[] = "data:image/png;base64,";
constexpr char kHeaderFailed[] = "PNG header failed: ";
constexpr char kImageDataFailed[] = "PNG encoding failed: ";

// PNG row filter type "Sub": each byte minus the byte one pixel to the left.
constexpr std::uint8_t kFilterSub = 1;
// zlib header for a 32 KiB window and the fastest level: CMF 0x78, FLG 0x01
// (FLEVEL 0, and 0x7801 is a multiple of 31 as the check requires).
constexpr std::uint8_t kZlibHeader[2] = {0x78, 0x01};
// Strips per worker thread, so an unevenly slow strip does not idle the others.
constexpr std::int32_t kStripsPerThread = 4;
// Each strip restarts the compression window; below this the loss shows.
constexpr std::int32_t kMinStripRows = 32;

// --- fused reduction / conversion / filter ----------------------------------

// Writes one Sub-filtered RGBA row (without its filter byte) from BGRX pixels.
void write_sub_filtered_rgba(const std::uint8_t* bgrx, std::int32_t width, std::uint8_t* out) {
    std::int32_t x = 0;
    // The pixel to the left, as RGBA (alpha 255); the first pixel has none.
    std::uint32_t left = 0;
#ifdef ZELTO_HAVE_SSE2
    // Four pixels at a time: swap blue and red, set alpha, subtract the pixel
    // to the left (the last one of the previous four for the first).
    const __m128i green = _mm_set1_epi32(0x0000FF00);
    const __m128i low_byte = _mm_set1_epi32(0x000000FF);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    __m128i previous = _mm_setzero_si128();
    for (; x + 4 <= width; x += 4, bgrx += 16, out += 16) {
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgrx));
        const __m128i rgba =
            _mm_or_si128(_mm_or_si128(_mm_and_si128(source, green), alpha),
                         _mm_or_si128(_mm_and_si128(_mm_srli_epi32(source, 16), low_byte),
                                      _mm_slli_epi32(_mm_and_si128(source, low_byte), 16)));
        const __m128i to_left = _mm_or_si128(_mm_slli_si128(rgba, 4), _mm_srli_si128(previous, 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_sub_epi8(rgba, to_left));
        previous = rgba;
    }
    left = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(previous, 12)));
#endif
    std::uint8_t prev_r = static_cast<std::uint8_t>(left);
    std::uint8_t prev_g = static_cast<std::uint8_t>(left >> 8);
    std::uint8_t prev_b = static_cast<std::uint8_t>(left >> 16);
    std::uint8_t prev_a = static_cast<std::uint8_t>(left >> 24);
    for (; x < width; ++x, bgrx += kBytesPerPixel, out += kBytesPerPixel) {
        const std::uint8_t b = bgrx[0];
        const std::uint8_t g = bgrx[1];
        const std::uint8_t r = bgrx[2];
        out[0] = static_cast<std::uint8_t>(r - prev_r);
        out[1] = static_cast<std::uint8_t>(g - prev_g);
        out[2] = static_cast<std::uint8_t>(b - prev_b);
        // Alpha is 255 everywhere, so its Sub difference is 0 after the first pixel.
        out[3] = static_cast<std::uint8_t>(0xFF - prev_a);
        prev_r = r;
        prev_g = g;
        prev_b = b;
        prev_a = 0xFF;
    }
}

struct Strip {
    std::int32_t first_row = 0;
    std::int32_t rows = 0;
    std::unique_ptr<std::uint8_t[]> deflated;
    std::size_t deflated_size = 0;
    uLong adler = 0;
    std::size_t raw_size = 0;
    std::string error;  // empty when the strip compressed
};

struct StripJob {
    BgrxView frame;
    int factor = 1;
    ImageSize size;
    StripDeflater deflater = nullptr;
};

// The strip's rows as PNG image data: each a filter byte and the Sub-filtered
// RGBA pixels, reduced first when the factor asks for it. Returns their
// Adler-32, taken from each row while it is still in the nearest cache.
std::uint32_t filter_strip_rows(const StripJob& job, const Strip& strip, std::uint8_t* rows,
                                std::vector<std::uint8_t>& reduced) {
    const std::size_t row_bytes = 1 + static_cast<std::size_t>(job.size.width) * kBytesPerPixel;
    if (job.factor > 1) {
        reduced.resize(static_cast<std::size_t>(job.size.width) * kBytesPerPixel);
    }
    const std::size_t frame_row_bytes = static_cast<std::size_t>(job.frame.width) * kBytesPerPixel;
    std::uint32_t adler = 1;
    for (std::int32_t i = 0; i < strip.rows; ++i) {
        const std::int32_t row = strip.first_row + i;
        std::uint8_t* out = rows + row_bytes * i;
        const std::uint8_t* source;
        if (job.factor == 1) {
            source = job.frame.pixels + frame_row_bytes * static_cast<std::size_t>(row);
        } else {
            reduce_row(job.frame, job.factor, row, reduced);
            source = reduced.data();
        }
        out[0] = kFilterSub;
        write_sub_filtered_rgba(source, job.size.width, out + 1);
        adler = adler32_update(adler, out, row_bytes);
    }
    return adler;
}

// Filters and deflates one strip of output rows. The last strip ends the deflate
// stream; the others end on a byte boundary, so the strips concatenate into
// one valid stream.
// What one worker thread keeps from strip to strip, so that only its first
// strip touches fresh memory (in a new process every page costs a fault).
struct StripWorkspace {
    std::unique_ptr<std::uint8_t[]> rows;
    std::size_t rows_capacity = 0;
    std::vector<std::uint8_t> reduced;
    std::unique_ptr<FastDeflater> deflater;

    std::uint8_t* rows_for(std::size_t bytes) {
        if (bytes > rows_capacity) {
            rows.reset(new std::uint8_t[bytes]);
            rows_capacity = bytes;
        }
        return rows.get();
    }
};

void compress_strip(const StripJob& job, Strip& strip, bool last, StripWorkspace& workspace) {
    const std::size_t row_bytes = 1 + static_cast<std::size_t>(job.size.width) * kBytesPerPixel;
    strip.raw_size = row_bytes * static_cast<std::size_t>(strip.rows);
    std::uint8_t* rows = workspace.rows_for(strip.raw_size);
    strip.adler = filter_strip_rows(job, strip, rows, workspace.reduced);
    if (job.deflater != nullptr) {
        const zelto::Result<std::size_t> size =
            job.deflater(rows, strip.raw_size, last, strip.deflated);
        if (size) {
            strip.deflated_size = *size;
        } else {
            strip.error = size.error();
        }
        return;
    }
    if (!workspace.deflater) {
        workspace.deflater = std::make_unique<FastDeflater>();
    }
    strip.deflated.reset(new std::uint8_t[fast_deflate_bound(strip.raw_size)]);
    strip.deflated_size = workspace.deflater->compress(
        std::span(rows, strip.raw_size), last ? DeflateEnd::final : DeflateEnd::joinable,
        strip.deflated.get(), row_bytes);
}

std::vector<Strip> plan_strips(std::int32_t rows, unsigned threads, std::int32_t strip_rows) {
    if (strip_rows <= 0) {
        const std::int32_t wanted = static_cast<std::int32_t>(threads) * kStripsPerThread;
        strip_rows = std::max(kMinStripRows, (rows + wanted - 1) / wanted);
    }
    std::vector<Strip> strips;
    for (std::int32_t first = 0; first < rows; first += strip_rows) {
        Strip strip;
        strip.first_row = first;
        strip.rows = std::min(strip_rows, rows - first);
        strips.push_back(std::move(strip));
    }
    return strips;
}

void compress_all(const StripJob& job, std::vector<Strip>& strips, unsigned threads) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        StripWorkspace workspace;
        for (std::size_t i = next++; i < strips.size(); i = next++) {
            compress_strip(job, strips[i], i + 1 == strips.size(), workspace);
        }
    };
    std::vector<std::thread> workers;
    const unsigned extra = std::min<std::size_t>(threads, strips.size()) - 1;
    for (unsigned i = 0; i < extra; ++i) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads: the ones running share the strips
        }
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
}

// --- libpng plumbing ----------------------------------------------------------
// libpng reports errors by longjmp: the functions holding setjmp keep no C++
// objects with destructors alive.

struct PngWriter {
    PngSink* sink = nullptr;
    char error[256] = {};
};

void on_png_error(png_structp png, png_const_charp message) {
    auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
    std::snprintf(writer->error, sizeof(writer->error), "%s", message);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

void on_png_write(png_structp png, png_bytep data, png_size_t size) {
    auto* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
    if (!writer->sink->write(data, size)) {
        png_error(png, "write failed");
    }
}

void on_png_flush(png_structp) {}

bool write_png_header(png_structp png, png_infop info, ImageSize size) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(size.width),
                 static_cast<png_uint_32>(size.height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    return true;
}

struct IdatPiece {
    const std::uint8_t* data;
    std::size_t size;
};

// One IDAT chunk per strip: the zlib header rides in the first, the Adler-32
// checksum in the last.
bool write_png_idat(png_structp png, const IdatPiece* pieces, std::size_t count,
                    const std::uint8_t* trailer) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    static const png_byte kIdat[5] = "IDAT";
    for (std::size_t i = 0; i < count; ++i) {
        const bool first = i == 0;
        const bool last = i + 1 == count;
        const std::size_t length =
            pieces[i].size + (first ? sizeof(kZlibHeader) : 0) + (last ? 4 : 0);
        png_write_chunk_start(png, kIdat, static_cast<png_uint_32>(length));
        if (first) {
            png_write_chunk_data(png, kZlibHeader, sizeof(kZlibHeader));
        }
        png_write_chunk_data(png, pieces[i].data, pieces[i].size);
        if (last) {
            png_write_chunk_data(png, trailer, 4);
        }
        png_write_chunk_end(png);
    }
    return true;
}

void write_png_end(png_structp png) {
    if (setjmp(png_jmpbuf(png))) {
        return;  // a failed end chunk does not fail the image
    }
    static const png_byte kIend[5] = "IEND";
    png_write_chunk(png, kIend, nullptr, 0);
}

class PngWriteStruct {
  public:
    explicit PngWriteStruct(PngWriter& writer) {
        png_ =
            png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer, on_png_error, on_png_warning);
        if (png_ != nullptr) {
            info_ = png_create_info_struct(png_);
            png_set_write_fn(png_, &writer, on_png_write, on_png_flush);
        }
    }
    ~PngWriteStruct() {
        if (png_ != nullptr) {
            png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr);
        }
    }
    PngWriteStruct(const PngWriteStruct&) = delete;
    PngWriteStruct& operator=(const PngWriteStruct&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

  private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

}  // namespace

// --- blackout test ------------------------------------------------------------

std::size_t blackout_step(std::size_t byte_count) {
    return std::max<std::size_t>(1, byte_count / kBlackoutBytesPerSample);
}

BlackoutCount count_dark_samples(BgrxView frame) {
    BlackoutCount count;
    if (frame.width <= 0 || frame.height <= 0) {
        return count;
    }
    const std::size_t pixels = static_cast<std::size_t>(frame.width) * frame.height;
    count.step = blackout_step(pixels * kBytesPerPixel);
    for (std::size_t index = 0; index < pixels; index += count.step) {
        const std::uint8_t* pixel = frame.pixels + index * kBytesPerPixel;
        ++count.samples;
        count.dark += is_dark_pixel(pixel) ? 1 : 0;
    }
    return count;
}

bool is_blackout(const BlackoutCount& count) {
    return count.dark * 1000 >= count.samples * kBlackoutDarkPerMille;
}

// --- reduction and conversion ---------------------------------------------------

int scale_factor(std::int32_t width, std::int32_t height) {
    const std::int32_t larger = std::max(width, height);
    if (larger < kHalveFrom) {
        return 1;
    }
    return larger < kQuarterFrom ? 2 : 4;
}

ImageSize output_size(std::int32_t width, std::int32_t height, int factor) {
    return ImageSize{std::max(1, width / factor), std::max(1, height / factor)};
}

void reduce_row(BgrxView frame, int factor, std::int32_t out_row, std::span<std::uint8_t> out) {
    const ImageSize size = output_size(frame.width, frame.height, factor);
    const std::int32_t row_begin = out_row * factor;
    const std::int32_t row_end = std::min(row_begin + factor, frame.height);
    const std::size_t stride = static_cast<std::size_t>(frame.width) * kBytesPerPixel;
    std::int32_t c = 0;
    if (factor == 2 && row_end - row_begin == 2) {
        // The common halving: whole 2x2 blocks, no clipping checks in the loop.
        const std::uint8_t* top = frame.pixels + stride * row_begin;
        const std::uint8_t* bottom = top + stride;
        const std::int32_t whole = std::min(size.width, frame.width / 2);
#ifdef ZELTO_HAVE_SSE2
        // Four output pixels from 8 + 8 source pixels: widen to 16 bits, add the
        // rows, add neighbouring pixels, divide by 4 and narrow again.
        const __m128i zero = _mm_setzero_si128();
        const __m128i colour_bytes = _mm_set1_epi32(0x00FFFFFF);
        const auto two_pixels = [&](const std::uint8_t* upper, const std::uint8_t* lower) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower));
            const __m128i left_pair =
                _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
            const __m128i right_pair =
                _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
            const __m128i first = _mm_add_epi16(left_pair, _mm_srli_si128(left_pair, 8));
            const __m128i second = _mm_add_epi16(right_pair, _mm_srli_si128(right_pair, 8));
            return _mm_srli_epi16(_mm_unpacklo_epi64(first, second), 2);
        };
        for (; c + 4 <= whole; c += 4, top += 32, bottom += 32) {
            const __m128i pixels = _mm_and_si128(
                _mm_packus_epi16(two_pixels(top, bottom), two_pixels(top + 16, bottom + 16)),
                colour_bytes);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + static_cast<std::size_t>(c) *
                                                                         kBytesPerPixel),
                             pixels);
        }
#endif
        for (; c < whole; ++c, top += 8, bottom += 8) {
            std::uint8_t* target = out.data() + static_cast<std::size_t>(c) * kBytesPerPixel;
            for (int channel = 0; channel < 3; ++channel) {
                target[channel] = static_cast<std::uint8_t>(
                    (top[channel] + top[channel + 4] + bottom[channel] + bottom[channel + 4]) / 4);
            }
            target[3] = 0;
        }
    }
    for (; c < size.width; ++c) {
        const std::int32_t col_begin = c * factor;
        const std::int32_t col_end = std::min(col_begin + factor, frame.width);
        std::uint32_t blue = 0;
        std::uint32_t green = 0;
        std::uint32_t red = 0;
        for (std::int32_t y = row_begin; y < row_end; ++y) {
            const std::uint8_t* pixel = frame.pixels + stride * y + col_begin * kBytesPerPixel;
            for (std::int32_t x = col_begin; x < col_end; ++x, pixel += kBytesPerPixel) {
                blue += pixel[0];
                green += pixel[1];
                red += pixel[2];
            }
        }
        const std::uint32_t taken =
            static_cast<std::uint32_t>((row_end - row_begin) * (col_end - col_begin));
        std::uint8_t* target = out.data() + static_cast<std::size_t>(c) * kBytesPerPixel;
        target[0] = static_cast<std::uint8_t>(blue / taken);
        target[1] = static_cast<std::uint8_t>(green / taken);
        target[2] = static_cast<std::uint8_t>(red / taken);
        target[3] = 0;
    }
}

// --- PNG --------------------------------------------------------------------------

bool VectorPngSink::write(const std::uint8_t* data, std::size_t size) {
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

zelto::Status encode_png(BgrxView frame, int factor, PngSink& sink, const PngOptions& options) {
    // Nothing was captured: one black pixel stands for the empty rectangle.
    static const std::uint8_t kBlackPixel[kBytesPerPixel] = {};
    if (frame.width <= 0 || frame.height <= 0 || frame.pixels == nullptr) {
        frame = BgrxView{kBlackPixel, 1, 1};
        factor = 1;
    }
    const ImageSize size = output_size(frame.width, frame.height, factor);

    PngWriter writer;
    writer.sink = &sink;
    PngWriteStruct png(writer);
    if (png.png() == nullptr || png.info() == nullptr) {
        return zelto::fail("PNG header failed: out of memory");
    }
    if (!write_png_header(png.png(), png.info(), size)) {
        return zelto::fail(kHeaderFailed + std::string(writer.error));
    }

    unsigned threads = options.threads;
    if (threads == 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
    }
    std::vector<Strip> strips = plan_strips(size.height, threads, options.strip_rows);
    compress_all(StripJob{frame, factor, size, options.deflater}, strips, threads);

    std::vector<IdatPiece> pieces;
    uLong adler = adler32(0L, Z_NULL, 0);
    for (const Strip& strip : strips) {
        if (!strip.error.empty()) {
            return zelto::fail(kImageDataFailed + strip.error);
        }
        pieces.push_back(IdatPiece{strip.deflated.get(), strip.deflated_size});
        adler = adler32_combine(adler, strip.adler, static_cast<z_off_t>(strip.raw_size));
    }
    // Signature, IHDR and IEND take 45 bytes; each IDAT chunk adds 12 to its data.
    std::size_t total = 45 + sizeof(kZlibHeader) + 4;
    for (const IdatPiece& piece : pieces) {
        total += 12 + piece.size;
    }
    sink.expect_total(total);
    const std::uint8_t trailer[4] = {
        static_cast<std::uint8_t>(adler >> 24), static_cast<std::uint8_t>(adler >> 16),
        static_cast<std::uint8_t>(adler >> 8), static_cast<std::uint8_t>(adler)};
    if (!write_png_idat(png.png(), pieces.data(), pieces.size(), trailer)) {
        return zelto::fail(kImageDataFailed + std::string(writer.error));
    }
    write_png_end(png.png());
    return zelto::done();
}

std::string png_data_url(std::span<const std::uint8_t> png) {
    std::string url = kDataUrlPrefix;
    text::base64_append(png.data(), png.size(), url);
    return url;
}

}  // namespace cua_actions::windows
