#include "cua_actions/windows/screenshot_fit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#include "cua_actions/windows/screenshot_jpeg.h"
#include "cua_actions/windows/simd.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// Huge values saturate: any of them is "no limit" in practice.
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

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

std::size_t sum_rows_sse2(const std::uint8_t* first, std::size_t stride,
                          const std::uint16_t* weight, std::uint32_t count, std::uint16_t* sums) {
    switch (count) {
        case 1:
            return sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<1>());
        case 2:
            return sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<2>());
        case 3:
            return sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<3>());
        case 4:
            return sum_rows_unrolled(first, stride, weight, sums, std::make_index_sequence<4>());
        default:
            return sum_rows_any(first, stride, weight, count, sums);
    }
}
#endif

#ifdef ZELTO_HAVE_AVX2
// The same sums 32 bytes at a time. The bytes are weighed in place as 16-bit
// lanes, without unpacking: the low byte of each lane shifted up (blue, red)
// and the high byte masked (green, the fourth byte), each already value * 256.
ZELTO_TARGET_AVX2 inline void add_weighed_row_avx2(const std::uint8_t* row, __m256i w,
                                                   __m256i& low_bytes, __m256i& high_bytes) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
    low_bytes = _mm256_add_epi16(low_bytes, _mm256_mulhi_epu16(_mm256_slli_epi16(bytes, 8), w));
    high_bytes = _mm256_add_epi16(
        high_bytes, _mm256_mulhi_epu16(
                        _mm256_and_si256(bytes, _mm256_set1_epi16(static_cast<short>(0xFF00))), w));
}

// The two halves interleaved back into byte order, one value per lane.
// Interleaving works within each 16-byte half, giving bytes 0-7 and 16-23
// and then 8-15 and 24-31; the halves are put back in order when stored.
ZELTO_TARGET_AVX2 inline void store_sums_avx2(std::uint16_t* sums, __m256i low_bytes,
                                              __m256i high_bytes) {
    const __m256i low = _mm256_unpacklo_epi16(low_bytes, high_bytes);
    const __m256i high = _mm256_unpackhi_epi16(low_bytes, high_bytes);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums),
                        _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + 16),
                        _mm256_permute2x128_si256(low, high, 0x31));
}

template <std::size_t... I>
ZELTO_TARGET_AVX2 std::size_t sum_rows_unrolled_avx2(const std::uint8_t* first, std::size_t stride,
                                                     const std::uint16_t* weight,
                                                     std::uint16_t* sums,
                                                     std::index_sequence<I...>) {
    const __m256i w[] = {_mm256_set1_epi16(static_cast<short>(weight[I]))...};
    std::size_t k = 0;
    // The rows after these are the next image row's: fetched while these are summed.
    const std::uint8_t* next = first + stride * sizeof...(I);
    for (; k + 32 <= stride; k += 32) {
        __m256i low = _mm256_setzero_si256();
        __m256i high = _mm256_setzero_si256();
        (add_weighed_row_avx2(first + stride * I + k, w[I], low, high), ...);
        store_sums_avx2(sums + k, low, high);
        _mm_prefetch(reinterpret_cast<const char*>(next + k), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + stride + k), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 2 * stride + k), _MM_HINT_T0);
    }
    return k;
}

ZELTO_TARGET_AVX2 std::size_t sum_rows_any_avx2(const std::uint8_t* first, std::size_t stride,
                                                const std::uint16_t* weight, std::uint32_t count,
                                                std::uint16_t* sums) {
    std::size_t k = 0;
    for (; k + 32 <= stride; k += 32) {
        __m256i low = _mm256_setzero_si256();
        __m256i high = _mm256_setzero_si256();
        for (std::uint32_t i = 0; i < count; ++i) {
            add_weighed_row_avx2(first + stride * i + k,
                                 _mm256_set1_epi16(static_cast<short>(weight[i])), low, high);
        }
        store_sums_avx2(sums + k, low, high);
    }
    return k;
}

ZELTO_TARGET_AVX2 std::size_t sum_rows_avx2(const std::uint8_t* first, std::size_t stride,
                                            const std::uint16_t* weight, std::uint32_t count,
                                            std::uint16_t* sums) {
    switch (count) {
        case 1:
            return sum_rows_unrolled_avx2(first, stride, weight, sums,
                                          std::make_index_sequence<1>());
        case 2:
            return sum_rows_unrolled_avx2(first, stride, weight, sums,
                                          std::make_index_sequence<2>());
        case 3:
            return sum_rows_unrolled_avx2(first, stride, weight, sums,
                                          std::make_index_sequence<3>());
        case 4:
            return sum_rows_unrolled_avx2(first, stride, weight, sums,
                                          std::make_index_sequence<4>());
        default:
            return sum_rows_any_avx2(first, stride, weight, count, sums);
    }
}
#endif

// The source rows of image row y averaged, per channel, as value * 256 (the
// weights add up to one, so the sum never passes 255 * 256). `sums` holds
// width * 4 values.
void sum_rows(BgrxView source, const AxisTaps& rows, std::int32_t y, bool avx2,
              std::uint16_t* sums) {
    const std::size_t stride = static_cast<std::size_t>(source.width) * kChannels;
    const std::uint8_t* first = source.pixels + stride * rows.first[y];
    const std::uint16_t* weight = rows.weights.data() + rows.begin[y];
    const std::uint32_t count = rows.begin[y + 1] - rows.begin[y];
    std::size_t k = 0;
#ifdef ZELTO_HAVE_AVX2
    if (avx2) {
        k = sum_rows_avx2(first, stride, weight, count, sums);
    }
#else
    (void)avx2;
#endif
#ifdef ZELTO_HAVE_SSE2
    if (k == 0) {
        k = sum_rows_sse2(first, stride, weight, count, sums);
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
            // The fourth byte is weighed by zero: it comes out zero without a mask.
            std::fill_n(lane, 3, columns.weights[i]);
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
// pixels rounded, packed and stored at a time, from image pixel x on.
template <std::uint32_t P>
void sum_columns_vector(const std::uint16_t* sums, const AxisTaps& columns,
                        const PairedWeights& paired, std::int32_t x, std::int32_t width,
                        std::uint8_t* out) {
    const std::uint32_t pairs = paired.pairs_per_pixel;
    const std::size_t step = static_cast<std::size_t>(pairs) * 8;
    const std::uint16_t* weights = paired.lanes.data() + step * static_cast<std::size_t>(x);
    out += static_cast<std::size_t>(x) * kChannels;
    const __m128i half = _mm_set1_epi16(128);
    const auto column = [&](std::int32_t i) {
        return sums + static_cast<std::size_t>(columns.first[i]) * kChannels;
    };
    for (; x + 2 <= width; x += 2, out += 2 * kChannels, weights += 2 * step) {
        const __m128i both =
            _mm_unpacklo_epi64(column_sum<P>(column(x), weights, pairs),
                               column_sum<P>(column(x + 1), weights + step, pairs));
        const __m128i rounded = _mm_srli_epi16(_mm_add_epi16(both, half), 8);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(rounded, rounded));
    }
    if (x < width) {
        const __m128i rounded =
            _mm_srli_epi16(_mm_add_epi16(column_sum<P>(column(x), weights, pairs), half), 8);
        const std::uint32_t pixel =
            static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(rounded, rounded)));
        std::memcpy(out, &pixel, sizeof(pixel));
    }
}

void sum_columns_sse2(const std::uint16_t* sums, const AxisTaps& columns,
                      const PairedWeights& paired, std::int32_t x, std::int32_t width,
                      std::uint8_t* out) {
    switch (paired.pairs_per_pixel) {
        case 1:
            sum_columns_vector<1>(sums, columns, paired, x, width, out);
            break;
        case 2:
            sum_columns_vector<2>(sums, columns, paired, x, width, out);
            break;
        case 3:
            sum_columns_vector<3>(sums, columns, paired, x, width, out);
            break;
        default:
            sum_columns_vector<0>(sums, columns, paired, x, width, out);
            break;
    }
}
#endif

#ifdef ZELTO_HAVE_AVX2
// Two image pixels' weighted sums, one in each 16-byte half (low four lanes).
// One pair per pixel: both pixels' pairs side by side (their weights are).
ZELTO_TARGET_AVX2 inline __m256i column_sums_one_pair(const std::uint16_t* first_column,
                                                      const std::uint16_t* second_column,
                                                      const std::uint16_t* weights) {
    const __m256i two = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first_column))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(second_column)), 1);
    const __m256i products =
        _mm256_mulhi_epu16(two, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights)));
    return _mm256_add_epi16(products, _mm256_srli_si256(products, 8));
}

// Sums held as value * 256 rounded to whole values, still one per 16-bit lane.
ZELTO_TARGET_AVX2 inline __m256i rounded_avx2(__m256i sums) {
    return _mm256_srli_epi16(_mm256_add_epi16(sums, _mm256_set1_epi16(128)), 8);
}

// One pair per pixel, four image pixels at a time; returns the first pixel it
// left to the SSE2 path.
ZELTO_TARGET_AVX2 std::int32_t sum_columns_one_pair_avx2(const std::uint16_t* sums,
                                                         const AxisTaps& columns,
                                                         const PairedWeights& paired,
                                                         std::int32_t width, std::uint8_t* out) {
    const std::uint16_t* weights = paired.lanes.data();
    const std::int32_t* first = columns.first.data();
    // After packing, pixels x, x+2 sit in the low half and x+1, x+3 in the
    // high one: this puts them in order.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    std::int32_t x = 0;
    for (; x + 4 <= width; x += 4, out += 4 * kChannels, weights += 4 * 8) {
        const auto column = [&](std::int32_t i) {
            return sums + static_cast<std::size_t>(first[x + i]) * kChannels;
        };
        const __m256i low = column_sums_one_pair(column(0), column(1), weights);
        const __m256i high = column_sums_one_pair(column(2), column(3), weights + 16);
        const __m256i four = _mm256_unpacklo_epi64(low, high);  // x, x+2 | x+1, x+3
        const __m256i rounded = rounded_avx2(four);
        const __m256i packed =
            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(rounded, rounded), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    }
    return x;
}

// Two pairs per pixel: a pixel's four neighbours weighed in one vector,
// [n0 n1 | n2 n3], and four such pixels added up into [x x+1 | x+2 x+3].
ZELTO_TARGET_AVX2 inline __m256i column_sums_two_pairs(const std::uint16_t* sums,
                                                       const std::int32_t* first,
                                                       const std::uint16_t* weights) {
    __m256i weighed[4];
    for (int i = 0; i < 4; ++i) {
        weighed[i] = _mm256_mulhi_epu16(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(
                sums + static_cast<std::size_t>(first[i]) * kChannels)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + i * 16)));
    }
    // [n0+n1 of x, of x+1 | n2+n3 of x, of x+1], and the same for x+2, x+3.
    const __m256i first_two = _mm256_add_epi16(_mm256_unpacklo_epi64(weighed[0], weighed[1]),
                                               _mm256_unpackhi_epi64(weighed[0], weighed[1]));
    const __m256i last_two = _mm256_add_epi16(_mm256_unpacklo_epi64(weighed[2], weighed[3]),
                                              _mm256_unpackhi_epi64(weighed[2], weighed[3]));
    return _mm256_add_epi16(_mm256_permute2x128_si256(first_two, last_two, 0x20),
                            _mm256_permute2x128_si256(first_two, last_two, 0x31));
}

// Two pairs per pixel, eight image pixels at a time; returns the first pixel
// it left to the SSE2 path.
ZELTO_TARGET_AVX2 std::int32_t sum_columns_two_pairs_avx2(const std::uint16_t* sums,
                                                          const AxisTaps& columns,
                                                          const PairedWeights& paired,
                                                          std::int32_t width, std::uint8_t* out) {
    const std::uint16_t* weights = paired.lanes.data();
    const std::int32_t* first = columns.first.data();
    std::int32_t x = 0;
    for (; x + 8 <= width; x += 8, out += 8 * kChannels, weights += 8 * 16) {
        const __m256i low = column_sums_two_pairs(sums, first + x, weights);
        const __m256i high = column_sums_two_pairs(sums, first + x + 4, weights + 4 * 16);
        // Packing interleaves the halves: x..x+1, x+4..x+5 | x+2..x+3, x+6..x+7.
        const __m256i packed = _mm256_packus_epi16(rounded_avx2(low), rounded_avx2(high));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return x;
}
#endif

// The row of sums averaged across into one BGRX image row, rounded. `sums`
// has zero pixels past its end for the padding pairs (two per pair).
void sum_columns(const std::uint16_t* sums, const AxisTaps& columns, const PairedWeights& paired,
                 std::int32_t width, bool avx2, std::uint8_t* out) {
#ifdef ZELTO_HAVE_SSE2
    std::int32_t x = 0;
#ifdef ZELTO_HAVE_AVX2
    if (avx2 && paired.pairs_per_pixel == 1) {
        x = sum_columns_one_pair_avx2(sums, columns, paired, width, out);
    } else if (avx2 && paired.pairs_per_pixel == 2) {
        x = sum_columns_two_pairs_avx2(sums, columns, paired, width, out);
    }
#else
    (void)avx2;
#endif
    sum_columns_sse2(sums, columns, paired, x, width, out);
#else
    (void)paired;
    (void)avx2;
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

// Frames above this many pixels are resampled on several threads.
constexpr std::int64_t kThreadedFromPixels = 8'000'000;
// More threads than this gain nothing: the frame is read at the memory's pace.
constexpr unsigned kMostThreads = 4;

struct ResamplePlan {
    BgrxView source;
    ImageSize size;
    AxisTaps columns;
    AxisTaps rows;
    PairedWeights paired;
    bool avx2 = false;
    std::size_t dark_step = 1;  // the blackout test's s
};

// The blackout samples (pixel indices 0, s, 2s, ...) within source row r.
std::size_t dark_samples_in_row(BgrxView source, std::int32_t r, std::size_t step) {
    const std::size_t width = static_cast<std::size_t>(source.width);
    const std::size_t end = width * static_cast<std::size_t>(r + 1);
    std::size_t dark = 0;
    for (std::size_t i = (width * r + step - 1) / step * step; i < end; i += step) {
        dark += is_dark_pixel(source.pixels + i * kChannels) ? 1 : 0;
    }
    return dark;
}

ResamplePlan make_plan(BgrxView source, ImageSize size, const ResampleOptions& options) {
    ResamplePlan plan;
    plan.source = source;
    plan.size = size;
    plan.columns = box_taps(source.width, size.width);
    plan.rows = box_taps(source.height, size.height);
    plan.paired = paired_weights(plan.columns);
#ifdef ZELTO_HAVE_AVX2
    plan.avx2 = options.allow_avx2 && cpu_has_avx2();
#else
    (void)options;
#endif
    const std::size_t pixels = static_cast<std::size_t>(source.width) * source.height;
    plan.dark_step = blackout_step(pixels * kChannels);
    return plan;
}

BlackoutCount no_dark_yet(const ResamplePlan& plan) {
    const std::size_t pixels = static_cast<std::size_t>(plan.source.width) * plan.source.height;
    return BlackoutCount{plan.dark_step, (pixels + plan.dark_step - 1) / plan.dark_step, 0};
}

// Makes image rows one at a time, judging the source rows on the way. Image
// row y judges the source rows from its first up to the next image row's
// first (the last one to the end), so each source row is judged once, just
// after it was read.
class RowMaker {
  public:
    explicit RowMaker(const ResamplePlan& plan)
        : plan_(plan),
          // Zero pixels past the end for the padding pairs of the last image pixels.
          sums_((static_cast<std::size_t>(plan.source.width) + 2 * plan.paired.pairs_per_pixel) *
                kChannels) {}

    // Image row y into `out`; returns the dark samples it judged.
    std::size_t make(std::int32_t y, std::uint8_t* out) {
        // The source rows of one image row are summed while they are in cache
        // (a row shared by two image rows is read again from there), then the
        // row of sums is reduced across.
        sum_rows(plan_.source, plan_.rows, y, plan_.avx2, sums_.data());
        const std::int32_t judged_end =
            y + 1 < plan_.size.height ? plan_.rows.first[y + 1] : plan_.source.height;
        std::size_t dark = 0;
        for (std::int32_t r = plan_.rows.first[y]; r < judged_end; ++r) {
            dark += dark_samples_in_row(plan_.source, r, plan_.dark_step);
        }
        sum_columns(sums_.data(), plan_.columns, plan_.paired, plan_.size.width, plan_.avx2, out);
        return dark;
    }

  private:
    const ResamplePlan& plan_;
    std::vector<std::uint16_t> sums_;
};

// Image rows [y0, y1) into `image`; returns the dark samples they judged.
std::size_t resample_band(const ResamplePlan& plan, std::int32_t y0, std::int32_t y1,
                          std::uint8_t* image) {
    RowMaker maker(plan);
    const std::size_t out_stride = static_cast<std::size_t>(plan.size.width) * kChannels;
    std::size_t dark = 0;
    for (std::int32_t y = y0; y < y1; ++y) {
        dark += maker.make(y, image + out_stride * y);
    }
    return dark;
}

// True once so few samples can still be dark that the frame cannot be refused.
bool surely_not_blackout(const BlackoutCount& count, std::size_t judged) {
    const std::size_t bright = judged - count.dark;
    return (count.samples - bright) * 1000 < count.samples * kBlackoutDarkPerMille;
}

// The JPEG's rows straight from the resampler, one encoder's group at a time.
// The rows made before the frame was known not to be the black one stay in
// the image buffer; the rest pass through a ring of rows that stays in cache.
class StreamedRows final : public JpegRowSource {
  public:
    StreamedRows(const ResamplePlan& plan, RowMaker& maker, const std::uint8_t* made,
                 std::int32_t made_rows)
        : maker_(maker),
          made_(made),
          made_rows_(made_rows),
          stride_(static_cast<std::size_t>(plan.size.width) * kChannels),
          ring_(new std::uint8_t[stride_ * kRingRows]) {}

    const std::uint8_t* row(std::int32_t y) override {
        if (y < made_rows_) {
            return made_ + stride_ * static_cast<std::size_t>(y);
        }
        std::uint8_t* out = ring_.get() + stride_ * static_cast<std::size_t>(y % kRingRows);
        maker_.make(y, out);
        return out;
    }

  private:
    // Twice the rows the encoder holds at once.
    static constexpr std::int32_t kRingRows = 2 * kJpegRowsPerGroup;
    RowMaker& maker_;
    const std::uint8_t* made_;
    std::int32_t made_rows_;
    std::size_t stride_;
    std::unique_ptr<std::uint8_t[]> ring_;
};

unsigned resample_threads(BgrxView source, const ResampleOptions& options) {
    if (static_cast<std::int64_t>(source.width) * source.height <= kThreadedFromPixels) {
        return 1;
    }
    if (options.threads != 0) {
        return options.threads;
    }
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
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

// The bytes of a JPEG at each of kJpegQualities relative to the first, as
// measured on desktop images at the fitted size.
constexpr double kJpegRelativeBytes[] = {1.0, 0.79, 0.66, 0.55};
static_assert(std::size(kJpegRelativeBytes) == std::size(kJpegQualities));
// A quality is skipped only when estimated to miss the budget by more than
// this share: estimates are rough.
constexpr double kEstimateMargin = 1.1;

// The last JPEG encoded while fitting: the base of the estimates.
struct JpegMeasure {
    ImageSize size;
    std::size_t quality_index = 0;
    std::size_t bytes = 0;
};

// Bytes are taken to grow with the area and with the quality as the table says.
bool misses_by_estimate(const std::optional<JpegMeasure>& measured, std::size_t quality_index,
                        ImageSize size, const FitRequest& request) {
    if (!measured || !request.max_bytes) {
        return false;
    }
    const double area = static_cast<double>(size.width) * size.height;
    const double measured_area = static_cast<double>(measured->size.width) * measured->size.height;
    const double estimate = static_cast<double>(measured->bytes) * area / measured_area *
                            kJpegRelativeBytes[quality_index] /
                            kJpegRelativeBytes[measured->quality_index];
    return estimate > static_cast<double>(*request.max_bytes) * kEstimateMargin;
}

}  // namespace

std::optional<zelto::Result<FitRequest>> read_fit_request(const Json& params) {
    const Json* max_size = find_param(params, "max_size");
    const Json* max_bytes = find_param(params, "max_bytes");
    const Json* format = find_param(params, "format");
    if (max_size == nullptr && max_bytes == nullptr && format == nullptr) {
        return std::nullopt;
    }
    FitRequest request;
    if (max_size != nullptr) {
        const std::optional<std::uint64_t> pixels = text::whole_number(*max_size, 1, kNoLimit);
        if (!pixels) {
            return zelto::fail("max_size must be a positive integer, got " + shown(*max_size));
        }
        request.max_size = static_cast<std::int32_t>(
            std::min<std::uint64_t>(*pixels, std::numeric_limits<std::int32_t>::max()));
    }
    if (max_bytes != nullptr) {
        request.max_bytes = text::whole_number(*max_bytes, 1, kNoLimit);
        if (!request.max_bytes) {
            return zelto::fail("max_bytes must be a positive integer, got " + shown(*max_bytes));
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
            return zelto::fail("format must be \"png\", \"jpeg\" or \"auto\", got " +
                               shown(*format));
        }
    }
    return zelto::Result<FitRequest>(request);
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
    BlackoutCount unused;
    const ResampledImage image = resample_judging(source, size, unused);
    const BgrxView view = image.view();
    return std::vector<std::uint8_t>(view.pixels, view.pixels + image.byte_count());
}

ResampledImage resample_judging(BgrxView source, ImageSize size, BlackoutCount& dark,
                                const ResampleOptions& options) {
    const ResamplePlan plan = make_plan(source, size, options);
    dark = no_dark_yet(plan);
    // Not zero-filled: every byte is written.
    ResampledImage image(size);
    const unsigned threads =
        std::min<unsigned>(resample_threads(source, options), static_cast<unsigned>(size.height));
    // Bands of whole image rows; the dark counts add up the same in any order.
    std::vector<std::size_t> band_dark(threads, 0);
    const auto band = [&](unsigned i) {
        const auto y0 = static_cast<std::int32_t>(std::int64_t{size.height} * i / threads);
        const auto y1 = static_cast<std::int32_t>(std::int64_t{size.height} * (i + 1) / threads);
        band_dark[i] = resample_band(plan, y0, y1, image.data());
    };
    std::vector<std::thread> workers;
    std::vector<unsigned> here;  // bands no thread could be started for
    for (unsigned i = 1; i < threads; ++i) {
        try {
            workers.emplace_back(band, i);
        } catch (const std::system_error&) {
            here.push_back(i);
        }
    }
    band(0);
    for (const unsigned i : here) {
        band(i);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    for (const std::size_t count : band_dark) {
        dark.dark += count;
    }
    return image;
}

zelto::Result<EncodedImage> fit_to_budget(ImageSize source, const FitRequest& request,
                                          const FitEncoder& encode) {
    ImageSize size = fitted_size(source, request.max_size);
    if (request.format == FitFormat::automatic) {
        auto png = encode(size, ImageFormat::png, 0);
        if (!png || fits(*png, request)) {
            return png;
        }
    }
    const ImageFormat format =
        request.format == FitFormat::png ? ImageFormat::png : ImageFormat::jpeg;
    const std::span<const int> qualities = format == ImageFormat::jpeg
                                               ? std::span<const int>(kJpegQualities)
                                               : std::span<const int>(kJpegQualities).first(1);
    std::optional<JpegMeasure> measured;
    for (;;) {
        std::size_t smallest = 0;
        for (std::size_t q = 0; q < qualities.size(); ++q) {
            // The last quality is always tried: its bytes tell how much smaller to go.
            if (q + 1 < qualities.size() && misses_by_estimate(measured, q, size, request)) {
                continue;
            }
            const int quality = format == ImageFormat::jpeg ? qualities[q] : 0;
            auto image = encode(size, format, quality);
            if (!image || fits(*image, request)) {
                return image;
            }
            smallest = image->bytes.size();
            measured = JpegMeasure{size, q, smallest};
        }
        // Only a budget refuses an image.
        if (size.width == 1 && size.height == 1) {
            return zelto::fail("max_bytes " + std::to_string(*request.max_bytes) +
                               " is too small: the smallest " + format_name(format) +
                               " image of this display takes " + std::to_string(smallest) +
                               " bytes");
        }
        size = smaller_size(source, size, smallest, *request.max_bytes);
    }
}

zelto::Result<std::optional<EncodedImage>> fit_screenshot(BgrxView frame, const FitRequest& request,
                                                          const ResampleOptions& options) {
    static const std::uint8_t kBlackPixel[kChannels] = {};
    const bool judged = frame.width > 0 && frame.height > 0 && frame.pixels != nullptr;
    if (!judged) {
        frame = BgrxView{kBlackPixel, 1, 1};
    }
    const ImageSize source{frame.width, frame.height};
    // The first size tried is resampled before anything is encoded, and the
    // blackout test rides on that pass; a frame kept at its size is sampled.
    const ImageSize first = fitted_size(source, request.max_size);
    // One JPEG on one thread is encoded from the resampler's rows as they are
    // made: only the rows made before the frame was known not to be refused
    // are kept (all of them for a frame dark enough to stay in doubt).
    const bool stream = first != source && request.format == FitFormat::jpeg &&
                        !request.max_bytes && resample_threads(frame, options) == 1;
    ResampledImage resampled;
    std::optional<ResamplePlan> plan;
    std::optional<RowMaker> maker;
    std::int32_t made_rows = 0;
    BlackoutCount dark;
    if (stream) {
        plan = make_plan(frame, first, options);
        maker.emplace(*plan);
        dark = no_dark_yet(*plan);
        resampled = ResampledImage(first);
        const std::size_t stride = static_cast<std::size_t>(first.width) * kChannels;
        const std::size_t width = static_cast<std::size_t>(frame.width);
        while (made_rows < first.height) {
            dark.dark += maker->make(made_rows, resampled.data() + stride * made_rows);
            ++made_rows;
            const std::size_t judged_rows =
                made_rows < first.height ? static_cast<std::size_t>(plan->rows.first[made_rows])
                                         : static_cast<std::size_t>(frame.height);
            const std::size_t judged_samples = (judged_rows * width + dark.step - 1) / dark.step;
            if (surely_not_blackout(dark, judged_samples)) {
                break;
            }
        }
    } else if (first != source) {
        resampled = resample_judging(frame, first, dark, options);
    } else if (judged && options.judge_blackout) {
        dark = count_dark_samples(frame);
    }
    if (judged && options.judge_blackout && is_blackout(dark)) {
        return std::optional<EncodedImage>();
    }
    const FitEncoder encode = [&](ImageSize size, ImageFormat format,
                                  int quality) -> zelto::Result<EncodedImage> {
        EncodedImage image{format, size, quality, {}};
        if (stream) {
            StreamedRows rows(*plan, *maker, resampled.data(), made_rows);
            auto jpeg = encode_jpeg(size, rows, quality);
            if (!jpeg) {
                return zelto::fail("JPEG encoding failed: " + jpeg.error());
            }
            image.bytes = std::move(*jpeg);
            return image;
        }
        BgrxView pixels = frame;
        if (size != source) {
            // The last resampled size is kept: several encodings may try one size.
            if (resampled.empty() || size != resampled.size()) {
                BlackoutCount unused;
                resampled = resample_judging(frame, size, unused, options);
            }
            pixels = resampled.view();
        }
        if (format == ImageFormat::png) {
            VectorPngSink png;
            const zelto::Status encoded = encode_png(pixels, 1, png);
            if (!encoded) {
                return zelto::fail(encoded.error());
            }
            image.bytes = std::move(png.bytes);
            return image;
        }
        auto jpeg = encode_jpeg(pixels, quality);
        if (!jpeg) {
            return zelto::fail("JPEG encoding failed: " + jpeg.error());
        }
        image.bytes = std::move(*jpeg);
        return image;
    };
    auto fitted = fit_to_budget(source, request, encode);
    if (!fitted) {
        return zelto::fail(fitted.error());
    }
    return std::optional<EncodedImage>(std::move(*fitted));
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
