#include "cua_actions/windows/screenshot_fit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

#include "cua_actions/windows/screenshot_jpeg.h"
#include "cua_actions/windows/simd.h"
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
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number > 0 ? std::optional(number) : std::nullopt;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        return number > 0 ? std::optional(static_cast<std::uint64_t>(number)) : std::nullopt;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || number < 1 || std::floor(number) != number) {
            return std::nullopt;
        }
        constexpr double kLimit = 18446744073709549568.0;  // the largest double below 2^64
        return number >= kLimit ? std::numeric_limits<std::uint64_t>::max()
                                : static_cast<std::uint64_t>(number);
    }
    return std::nullopt;
}

// --- resampling ---------------------------------------------------------------

// One axis of the area average. Measured in units of 1/out of a source pixel,
// image pixel x covers [x*in, (x+1)*in) and source pixel j covers
// [j*out, (j+1)*out): the overlaps are whole numbers adding up to `in` for
// every image pixel, so the weights are exact.
struct AxisTaps {
    std::vector<std::int32_t> first;   // first source pixel of each image pixel
    std::vector<std::uint32_t> begin;  // its weights are weights[begin[x] .. begin[x + 1])
    std::vector<std::int32_t> weights;
};

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
        taps.begin.push_back(static_cast<std::uint32_t>(taps.weights.size()));
        for (std::int64_t j = first; j <= last; ++j) {
            const std::int64_t overlap = std::min(end, (j + 1) * out) - std::max(start, j * out);
            taps.weights.push_back(static_cast<std::int32_t>(overlap));
        }
    }
    taps.begin.push_back(static_cast<std::uint32_t>(taps.weights.size()));
    return taps;
}

// Weighted sum of the rows of one image row, per channel, in exact integers
// (at most 255 times the source height): `sums` holds width * 4 values.
void sum_rows(BgrxView source, const AxisTaps& rows, std::int32_t y, float* sums) {
    const std::size_t stride = static_cast<std::size_t>(source.width) * kChannels;
    const std::uint8_t* first = source.pixels + stride * rows.first[y];
    const std::int32_t* weight = rows.weights.data() + rows.begin[y];
    const std::uint32_t count = rows.begin[y + 1] - rows.begin[y];
    std::size_t k = 0;
#ifdef ZELTO_HAVE_SSE2
    // Rows in pairs: the two rows' bytes interleaved as 16-bit values and
    // multiplied by their two weights in one madd. The weights (at most the
    // image height) fit its signed 16 bits for any image below 32768 rows.
    if (rows.first.size() < 32768) {
        const __m128i zero = _mm_setzero_si128();
        for (; k + 16 <= stride; k += 16) {
            __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
            for (std::uint32_t i = 0; i < count; i += 2) {
                const bool pair = i + 1 < count;
                const std::uint8_t* upper = first + stride * i + k;
                const std::uint8_t* lower = pair ? upper + stride : upper;
                const std::int32_t upper_weight = weight[i];
                const std::int32_t lower_weight = pair ? weight[i + 1] : 0;
                const __m128i w = _mm_set1_epi32(
                    static_cast<int>((static_cast<std::uint32_t>(lower_weight) << 16) |
                                     static_cast<std::uint32_t>(upper_weight)));
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower));
                const __m128i a_lo = _mm_unpacklo_epi8(a, zero);
                const __m128i b_lo = _mm_unpacklo_epi8(b, zero);
                const __m128i a_hi = _mm_unpackhi_epi8(a, zero);
                const __m128i b_hi = _mm_unpackhi_epi8(b, zero);
                acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(a_lo, b_lo), w));
                acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(a_lo, b_lo), w));
                acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(a_hi, b_hi), w));
                acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(a_hi, b_hi), w));
            }
            _mm_storeu_ps(sums + k, _mm_cvtepi32_ps(acc0));
            _mm_storeu_ps(sums + k + 4, _mm_cvtepi32_ps(acc1));
            _mm_storeu_ps(sums + k + 8, _mm_cvtepi32_ps(acc2));
            _mm_storeu_ps(sums + k + 12, _mm_cvtepi32_ps(acc3));
        }
    }
#endif
    for (; k < stride; ++k) {
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            sum += static_cast<std::uint32_t>(weight[i]) * first[stride * i + k];
        }
        sums[k] = static_cast<float>(sum);
    }
}

// Weighted sums of the columns of `sums`, scaled to 0..255 and rounded: one
// BGRX image row. The float error stays far below half a step.
void sum_columns(const float* sums, const AxisTaps& columns, const float* broadcast_weights,
                 float scale, std::int32_t width, std::uint8_t* out) {
    for (std::int32_t x = 0; x < width; ++x, out += kChannels) {
        const float* column = sums + static_cast<std::size_t>(columns.first[x]) * kChannels;
        const std::uint32_t begin = columns.begin[x];
        const std::uint32_t count = columns.begin[x + 1] - begin;
#ifdef ZELTO_HAVE_SSE2
        const float* weight = broadcast_weights + static_cast<std::size_t>(begin) * kChannels;
        __m128 acc = _mm_setzero_ps();
        for (std::uint32_t i = 0; i < count; ++i) {
            acc = _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(column + i * kChannels),
                                             _mm_loadu_ps(weight + i * kChannels)));
        }
        const __m128i rounded =
            _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(acc, _mm_set1_ps(scale)), _mm_set1_ps(0.5f)));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(rounded, rounded), rounded);
        const std::uint32_t pixel =
            static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes)) & 0x00FFFFFFu;
        std::memcpy(out, &pixel, sizeof(pixel));
#else
        (void)broadcast_weights;
        const std::int32_t* weight = columns.weights.data() + begin;
        for (std::size_t c = 0; c < 3; ++c) {
            float acc = 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                acc += static_cast<float>(weight[i]) * column[i * kChannels + c];
            }
            out[c] = static_cast<std::uint8_t>(std::min(255.0f, acc * scale + 0.5f));
        }
        out[3] = 0;
#endif
    }
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
    // Each column weight four times over, one per channel lane.
    std::vector<float> broadcast(columns.weights.size() * kChannels);
    for (std::size_t i = 0; i < columns.weights.size(); ++i) {
        std::fill_n(broadcast.begin() + static_cast<std::ptrdiff_t>(i * kChannels), kChannels,
                    static_cast<float>(columns.weights[i]));
    }
    // The weights of one image pixel add up to source width * source height.
    const float scale =
        static_cast<float>(1.0 / (static_cast<double>(source.width) * source.height));
    std::vector<float> sums(static_cast<std::size_t>(source.width) * kChannels);
    const std::size_t out_stride = static_cast<std::size_t>(size.width) * kChannels;
    std::vector<std::uint8_t> image(out_stride * size.height);
    // Row by row: the source rows of one image row are summed while they are
    // in cache (a row shared by two image rows is read again from there), then
    // the row of sums is reduced across.
    for (std::int32_t y = 0; y < size.height; ++y) {
        sum_rows(source, rows, y, sums.data());
        sum_columns(sums.data(), columns, broadcast.data(), scale, size.width,
                    image.data() + out_stride * y);
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
