#include "cua_actions/windows/screenshot_fit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "cua_actions/windows/screenshot_jpeg.h"
#include "cua_actions/windows/simd.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::size_t kChannels = 4;
// A value shown in a failure message is cut to this many characters.
constexpr std::size_t kShownValueLimit = 40;
// When a size misses the budget, the next is smaller by the square root of the
// bytes it missed by (bytes grow with the area), less this margin, and always
// by at least the same share.
constexpr double kShrinkMargin = 0.9;

// --- parameters -------------------------------------------------------------

std::string shown(const Json& value) {
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (text.size() > kShownValueLimit) {
        text.resize(kShownValueLimit);
        text += "...";
    }
    return text;
}

// A JSON number with a whole positive value (800 and 800.0 alike); huge values
// saturate, since any of them is "no limit" in practice.
std::optional<std::uint64_t> positive_integer(const Json& value) {
    const std::optional<std::uint64_t> number = text::whole_number(value);
    return number && *number > 0 ? number : std::nullopt;
}

// --- resampling ---------------------------------------------------------------

// One axis of the area average. Measured in units of 1/out of a source pixel,
// image pixel x covers [x*in, (x+1)*in) and source pixel j covers
// [j*out, (j+1)*out): the overlaps are whole numbers adding up to `in` for
// every image pixel. They are kept as fractions of 65536 (adding up to exactly
// that), so that one 16-bit high multiply applies a weight; over both passes
// the result stays within a tenth of a step of the exact average.
struct AxisTaps {
    std::vector<std::int32_t> first;   // first source pixel of each image pixel
    std::vector<std::uint32_t> begin;  // its weights are weights[begin[x] .. begin[x + 1])
    std::vector<std::uint16_t> weights;
};

constexpr std::uint32_t kWeightOne = 65536;

AxisTaps box_taps(std::int32_t in, std::int32_t out) {
    AxisTaps taps;
    taps.first.reserve(out);
    taps.begin.reserve(static_cast<std::size_t>(out) + 1);
    taps.weights.reserve(static_cast<std::size_t>(in) + out);
    for (std::int64_t x = 0; x < out; ++x) {
        const std::int64_t start = x * in;
        const std::int64_t end = start + in;
        const std::int64_t first = start / out;
        const std::int64_t last = (end - 1) / out;
        taps.first.push_back(static_cast<std::int32_t>(first));
        const std::size_t begin = taps.weights.size();
        taps.begin.push_back(static_cast<std::uint32_t>(begin));
        std::uint32_t total = 0;
        std::size_t largest = begin;
        std::uint32_t largest_weight = 0;
        for (std::int64_t j = first; j <= last; ++j) {
            const std::int64_t overlap = std::min(end, (j + 1) * out) - std::max(start, j * out);
            const auto weight = static_cast<std::uint32_t>(overlap * kWeightOne / in);
            total += weight;
            if (weight > largest_weight) {
                largest = taps.weights.size();
                largest_weight = weight;
            }
            // Only an axis kept at its size has a single whole weight; 65535
            // still returns every value exactly after rounding.
            taps.weights.push_back(
                static_cast<std::uint16_t>(std::min<std::uint32_t>(weight, 65535)));
        }
        // The rounding remainder goes to the largest weight (never past 65535:
        // it is below the tap count, the largest below 65536 * out / in).
        const std::uint32_t topped = std::min<std::uint32_t>(
            65535, taps.weights[largest] + (kWeightOne - std::min(kWeightOne, total)));
        taps.weights[largest] = static_cast<std::uint16_t>(topped);
    }
    taps.begin.push_back(static_cast<std::uint32_t>(taps.weights.size()));
    return taps;
}

// High half of a * w: a weight applied to a value held as value * 256.
inline std::uint16_t weighted(std::uint32_t value, std::uint16_t weight) {
    return static_cast<std::uint16_t>((value * weight) >> 16);
}

#ifdef ZELTO_HAVE_SSE2
// One row's 16 bytes weighed into the two accumulators (value * 256 in 16-bit
// lanes: the bytes go into the high half of each lane).
inline void add_weighed_row(const std::uint8_t* row, __m128i w, __m128i& low, __m128i& high) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    low = _mm_add_epi16(low, _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, bytes), w));
    high = _mm_add_epi16(high, _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, bytes), w));
}

// N rows unrolled, their weights held in registers (a ratio below 3 needs at
// most four rows). Returns how many bytes it did.
template <std::size_t... I>
std::size_t sum_rows_unrolled(const std::uint8_t* first, std::size_t stride,
                              const std::uint16_t* weight, std::uint16_t* sums,
                              std::index_sequence<I...>) {
    const __m128i w[] = {_mm_set1_epi16(static_cast<short>(weight[I]))...};
    std::size_t k = 0;
    for (; k + 16 <= stride; k += 16) {
        __m128i low = _mm_setzero_si128();
        __m128i high = _mm_setzero_si128();
        (add_weighed_row(first + stride * I + k, w[I], low, high), ...);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k + 8), high);
    }
    return k;
}

// Any number of rows.
std::size_t sum_rows_any(const std::uint8_t* first, std::size_t stride, const std::uint16_t* weight,
                         std::uint32_t count, std::uint16_t* sums) {
    std::size_t k = 0;
    for (; k + 16 <= stride; k += 16) {
        __m128i low = _mm_setzero_si128();
        __m128i high = _mm_setzero_si128();
        for (std::uint32_t i = 0; i < count; ++i) {
            add_weighed_row(first + stride * i + k, _mm_set1_epi16(static_cast<short>(weight[i])),
                            low, high);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k + 8), high);
    }
    return k;
}
#endif

// The source rows of image row y averaged, per channel, as value * 256 (the
// weights add up to one, so the sum never passes 255 * 256). `sums` holds
// width * 4 values.
void sum_rows(BgrxView source, const AxisTaps& rows, std::int32_t y, std::uint16_t* sums) {
    const std::size_t stride = static_cast<std::size_t>(source.width) * kChannels;
    const std::uint8_t* first = source.pixels + stride * rows.first[y];
    const std::uint16_t* weight = rows.weights.data() + rows.begin[y];
    const std::uint32_t count = rows.begin[y + 1] - rows.begin[y];
    std::size_t k = 0;
#ifdef ZELTO_HAVE_SSE2
    switch (count) {
        case 1:
            k = sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<1>());
            break;
        case 2:
            k = sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<2>());
            break;
        case 3:
            k = sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<3>());
            break;
        case 4:
            k = sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<4>());
            break;
        default:
            k = sum_rows_any(first, stride, weight, count, sums);
            break;
    }
#endif
    for (; k < stride; ++k) {
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            sum += weighted(static_cast<std::uint32_t>(first[stride * i + k]) << 8, weight[i]);
        }
        sums[k] = static_cast<std::uint16_t>(sum);
    }
}

// The column weights paired for the vector path: for every image pixel the
// same number of pairs (the most any pixel needs, zero weights after its
// own), each as one vector of four lanes of the first weight and four of the
// second, to weigh two neighbouring pixels of the row of sums in one multiply.
struct PairedWeights {
    std::uint32_t pairs_per_pixel = 0;
    std::vector<std::uint16_t> lanes;  // 8 per pair
};

PairedWeights paired_weights(const AxisTaps& columns) {
    PairedWeights paired;
    const std::size_t width = columns.first.size();
    for (std::size_t x = 0; x < width; ++x) {
        paired.pairs_per_pixel =
            std::max(paired.pairs_per_pixel, (columns.begin[x + 1] - columns.begin[x] + 1) / 2);
    }
    paired.lanes.assign(width * paired.pairs_per_pixel * 8, 0);
    for (std::size_t x = 0; x < width; ++x) {
        std::uint16_t* lane = paired.lanes.data() + x * paired.pairs_per_pixel * 8;
        for (std::uint32_t i = columns.begin[x]; i < columns.begin[x + 1]; ++i, lane += 4) {
            std::fill_n(lane, 4, columns.weights[i]);
        }
    }
    return paired;
}

#ifdef ZELTO_HAVE_SSE2
// One image pixel's weighted sum: the pairs' products added, then the two
// halves (the pairs' first and second pixels) added, in the low four lanes.
template <std::uint32_t P>
inline __m128i column_sum(const std::uint16_t* column, const std::uint16_t* weights,
                          std::uint32_t pairs) {
    __m128i acc = _mm_setzero_si128();
    for (std::uint32_t p = 0; p < (P == 0 ? pairs : P); ++p) {
        const __m128i two =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + p * 2 * kChannels));
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + p * 8));
        acc = _mm_add_epi16(acc, _mm_mulhi_epu16(two, w));
    }
    return _mm_add_epi16(acc, _mm_srli_si128(acc, 8));
}

// P pairs per pixel (fixed for the common ratios, 0 for any); two image
// pixels rounded, packed and stored at a time.
template <std::uint32_t P>
void sum_columns_vector(const std::uint16_t* sums, const AxisTaps& columns,
                        const PairedWeights& paired, std::int32_t width, std::uint8_t* out) {
    const std::uint32_t pairs = paired.pairs_per_pixel;
    const std::size_t step = static_cast<std::size_t>(pairs) * 8;
    const std::uint16_t* weights = paired.lanes.data();
    const __m128i half = _mm_set1_epi16(128);
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    const auto column = [&](std::int32_t x) {
        return sums + static_cast<std::size_t>(columns.first[x]) * kChannels;
    };
    std::int32_t x = 0;
    for (; x + 2 <= width; x += 2, out += 2 * kChannels, weights += 2 * step) {
        const __m128i both =
            _mm_unpacklo_epi64(column_sum<P>(column(x), weights, pairs),
                               column_sum<P>(column(x + 1), weights + step, pairs));
        const __m128i rounded = _mm_srli_epi16(_mm_add_epi16(both, half), 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                         _mm_and_si128(_mm_packus_epi16(rounded, rounded), colour));
    }
    if (x < width) {
        const __m128i rounded =
            _mm_srli_epi16(_mm_add_epi16(column_sum<P>(column(x), weights, pairs), half), 8);
        const std::uint32_t pixel =
            static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(rounded, rounded))) &
            0x00FFFFFFu;
        std::memcpy(out, &pixel, sizeof(pixel));
    }
}
#endif

// The row of sums averaged across into one BGRX image row, rounded. `sums`
// has zero pixels past its end for the padding pairs (two per pair).
void sum_columns(const std::uint16_t* sums, const AxisTaps& columns, const PairedWeights& paired,
                 std::int32_t width, std::uint8_t* out) {
#ifdef ZELTO_HAVE_SSE2
    switch (paired.pairs_per_pixel) {
        case 1:
            sum_columns_vector<1>(sums, columns, paired, width, out);
            break;
        case 2:
            sum_columns_vector<2>(sums, columns, paired, width, out);
            break;
        case 3:
            sum_columns_vector<3>(sums, columns, paired, width, out);
            break;
        default:
            sum_columns_vector<0>(sums, columns, paired, width, out);
            break;
    }
#else
    (void)paired;
    for (std::int32_t x = 0; x < width; ++x, out += kChannels) {
        const std::uint16_t* column = sums + static_cast<std::size_t>(columns.first[x]) * kChannels;
        const std::uint16_t* weight = columns.weights.data() + columns.begin[x];
        const std::uint32_t count = columns.begin[x + 1] - columns.begin[x];
        for (std::size_t c = 0; c < 3; ++c) {
            std::uint32_t acc = 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                acc += weighted(column[i * kChannels + c], weight[i]);
            }
            out[c] = static_cast<std::uint8_t>((acc + 128) >> 8);
        }
        out[3] = 0;
    }
#endif
}

// --- budget -------------------------------------------------------------------

bool fits(const EncodedImage& image, const FitRequest& request) {
    return !request.max_bytes || image.bytes.size() <= *request.max_bytes;
}

ImageSize smaller_size(ImageSize source, ImageSize current, std::size_t bytes,
                       std::uint64_t budget) {
    const std::int32_t longer = std::max(current.width, current.height);
    const double share = std::min(
        kShrinkMargin,
        kShrinkMargin * std::sqrt(static_cast<double>(budget) / static_cast<double>(bytes)));
    const auto next = static_cast<std::int32_t>(std::floor(longer * share));
    return fitted_size(source, std::clamp(next, 1, longer - 1));
}

}  // namespace

std::optional<std::variant<FitRequest, std::string>> read_fit_request(const Json& params) {
    const Json* max_size = find_param(params, "max_size");
    const Json* max_bytes = find_param(params, "max_bytes");
    const Json* format = find_param(params, "format");
    if (max_size == nullptr && max_bytes == nullptr && format == nullptr) {
        return std::nullopt;
    }
    FitRequest request;
    if (max_size != nullptr) {
        const std::optional<std::uint64_t> pixels = positive_integer(*max_size);
        if (!pixels) {
            return "max_size must be a positive integer, got " + shown(*max_size);
        }
        request.max_size = static_cast<std::int32_t>(
            std::min<std::uint64_t>(*pixels, std::numeric_limits<std::int32_t>::max()));
    }
    if (max_bytes != nullptr) {
        request.max_bytes = positive_integer(*max_bytes);
        if (!request.max_bytes) {
            return "max_bytes must be a positive integer, got " + shown(*max_bytes);
        }
    }
    if (format != nullptr) {
        const std::string* name =
            format->is_string() ? &format->get_ref<const std::string&>() : nullptr;
        if (name != nullptr && *name == "png") {
            request.format = FitFormat::png;
        } else if (name != nullptr && *name == "jpeg") {
            request.format = FitFormat::jpeg;
        } else if (name == nullptr || *name != "auto") {
            return "format must be \"png\", \"jpeg\" or \"auto\", got " + shown(*format);
        }
    }
    return request;
}

ImageSize fitted_size(ImageSize source, std::optional<std::int32_t> max_size) {
    source.width = std::max(1, source.width);
    source.height = std::max(1, source.height);
    const std::int64_t longer = std::max(source.width, source.height);
    if (!max_size || longer <= *max_size) {
        return source;
    }
    const std::int64_t limit = *max_size;
    const std::int64_t shorter = std::min(source.width, source.height);
    // round(shorter * limit / longer), halves rounded up
    const auto scaled = static_cast<std::int32_t>(
        std::max<std::int64_t>(1, (2 * shorter * limit + longer) / (2 * longer)));
    const auto side = static_cast<std::int32_t>(limit);
    return source.width >= source.height ? ImageSize{side, scaled} : ImageSize{scaled, side};
}

std::vector<std::uint8_t> resample_area_average(BgrxView source, ImageSize size) {
    const AxisTaps columns = box_taps(source.width, size.width);
    const AxisTaps rows = box_taps(source.height, size.height);
    const PairedWeights paired = paired_weights(columns);
    // Zero pixels past the end for the padding pairs of the last image pixels.
    std::vector<std::uint16_t> sums(
        (static_cast<std::size_t>(source.width) + 2 * paired.pairs_per_pixel) * kChannels);
    const std::size_t out_stride = static_cast<std::size_t>(size.width) * kChannels;
    std::vector<std::uint8_t> image(out_stride * size.height);
    // Row by row: the source rows of one image row are summed while they are
    // in cache (a row shared by two image rows is read again from there), then
    // the row of sums is reduced across.
    for (std::int32_t y = 0; y < size.height; ++y) {
        sum_rows(source, rows, y, sums.data());
        sum_columns(sums.data(), columns, paired, size.width, image.data() + out_stride * y);
    }
    return image;
}

std::variant<EncodedImage, std::string> fit_to_budget(ImageSize source, const FitRequest& request,
                                                      const FitEncoder& encode) {
    ImageSize size = fitted_size(source, request.max_size);
    if (request.format == FitFormat::automatic) {
        auto png = encode(size, ImageFormat::png, 0);
        if (std::holds_alternative<std::string>(png) ||
            fits(std::get<EncodedImage>(png), request)) {
            return png;
        }
    }
    const ImageFormat format =
        request.format == FitFormat::png ? ImageFormat::png : ImageFormat::jpeg;
    const std::span<const int> qualities = format == ImageFormat::jpeg
                                               ? std::span<const int>(kJpegQualities)
                                               : std::span<const int>(kJpegQualities).first(1);
    for (;;) {
        std::size_t smallest = 0;
        for (const int quality : qualities) {
            auto image = encode(size, format, format == ImageFormat::jpeg ? quality : 0);
            if (std::holds_alternative<std::string>(image) ||
                fits(std::get<EncodedImage>(image), request)) {
                return image;
            }
            smallest = std::get<EncodedImage>(image).bytes.size();
        }
        // Only a budget refuses an image.
        if (size.width == 1 && size.height == 1) {
            return "max_bytes " + std::to_string(*request.max_bytes) +
                   " is too small: the smallest " + format_name(format) +
                   " image of this display takes " + std::to_string(smallest) + " bytes";
        }
        size = smaller_size(source, size, smallest, *request.max_bytes);
    }
}

std::variant<EncodedImage, std::string> fit_screenshot(BgrxView frame, const FitRequest& request) {
    static const std::uint8_t kBlackPixel[kChannels] = {};
    if (frame.width <= 0 || frame.height <= 0 || frame.pixels == nullptr) {
        frame = BgrxView{kBlackPixel, 1, 1};
    }
    const ImageSize source{frame.width, frame.height};
    // The last resampled size is kept: several encodings may try one size.
    ImageSize resampled_size;
    std::vector<std::uint8_t> resampled;
    const FitEncoder encode = [&](ImageSize size, ImageFormat format,
                                  int quality) -> std::variant<EncodedImage, std::string> {
        BgrxView pixels = frame;
        if (size != source) {
            if (resampled.empty() || size != resampled_size) {
                resampled = resample_area_average(frame, size);
                resampled_size = size;
            }
            pixels = BgrxView{resampled.data(), size.width, size.height};
        }
        EncodedImage image{format, size, quality, {}};
        if (format == ImageFormat::png) {
            VectorPngSink png;
            const auto encoded = encode_png(pixels, 1, png);
            if (const PngError* failure = std::get_if<PngError>(&encoded)) {
                return (failure->stage == PngFailure::header ? "PNG header failed: "
                                                             : "PNG encoding failed: ") +
                       failure->message;
            }
            image.bytes = std::move(png.bytes);
            return image;
        }
        auto jpeg = encode_jpeg(pixels, quality);
        if (const std::string* failure = std::get_if<std::string>(&jpeg)) {
            return "JPEG encoding failed: " + *failure;
        }
        image.bytes = std::move(std::get<std::vector<std::uint8_t>>(jpeg));
        return image;
    };
    return fit_to_budget(source, request, encode);
}

const char* format_name(ImageFormat format) {
    return format == ImageFormat::png ? "png" : "jpeg";
}

std::string image_data_url(const EncodedImage& image) {
    std::string url = std::string("data:image/") + format_name(image.format) + ";base64,";
    text::base64_append(image.bytes.data(), image.bytes.size(), url);
    return url;
}

}  // namespace cua_actions::windows
