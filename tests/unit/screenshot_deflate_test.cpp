// The fast deflate is checked against zlib's inflate: every output must be a
// valid raw deflate stream that gives back the input exactly.
#include "cua_actions/windows/screenshot_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace cua_actions::windows {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Inflates a raw deflate stream; nullopt if zlib rejects it or it does not end
// with a final block exactly at its last byte.
std::optional<Bytes> inflate_raw(const Bytes& compressed, std::size_t expected_size) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) {
        return std::nullopt;
    }
    Bytes out(expected_size + 1);
    stream.next_in = const_cast<Bytes::value_type*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int code = inflate(&stream, Z_FINISH);
    const bool whole = code == Z_STREAM_END && stream.avail_in == 0;
    out.resize(stream.total_out);
    inflateEnd(&stream);
    if (!whole) {
        return std::nullopt;
    }
    return out;
}

Bytes compress(const Bytes& input, DeflateEnd end) {
    // Room past the bound, filled with a marker, shows any write beyond it.
    const std::size_t bound = fast_deflate_bound(input.size());
    Bytes out(bound + 64, 0xA5);
    const std::size_t written = fast_deflate(input, end, out.data());
    EXPECT_LE(written, bound);
    for (std::size_t i = bound; i < out.size(); ++i) {
        EXPECT_EQ(out[i], 0xA5) << "write past the bound at " << i;
    }
    out.resize(written);
    return out;
}

Bytes random_bytes(std::size_t size, std::uint32_t seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, alphabet - 1);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(byte(rng));
    }
    return out;
}

Bytes repeat(const Bytes& unit, std::size_t size) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = unit[i % unit.size()];
    }
    return out;
}

// Sub-filtered RGBA rows of a screen-like image: flat areas, a gradient, text-like
// repeats and a noisy photo region.
Bytes screen_rows(int width, int height) {
    std::mt19937 rng(7);
    Bytes rows;
    for (int y = 0; y < height; ++y) {
        rows.push_back(1);
        std::uint8_t prev[4] = {};
        for (int x = 0; x < width; ++x) {
            std::uint8_t pixel[4] = {40, 60, static_cast<std::uint8_t>(80 + y / 4), 255};
            if (x > width / 2 && y > height / 3) {
                pixel[0] = static_cast<std::uint8_t>(rng());
                pixel[1] = static_cast<std::uint8_t>(pixel[0] / 2 + (rng() & 7));
            } else if ((x / 7 + y / 9) % 5 == 0 && ((x * 13 + y * 7) % 11) < 4) {
                pixel[0] = pixel[1] = pixel[2] = 230;
            }
            for (int c = 0; c < 4; ++c) {
                rows.push_back(static_cast<std::uint8_t>(pixel[c] - prev[c]));
                prev[c] = pixel[c];
            }
        }
    }
    return rows;
}

struct RoundTripCase {
    std::string name;
    std::function<Bytes()> make;
    // The most compressed bytes per input byte expected (0: not checked).
    double at_most_ratio = 0;
};

class DeflateRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(DeflateRoundTrip, InflatesToTheInput) {
    const Bytes input = GetParam().make();
    const Bytes compressed = compress(input, DeflateEnd::final);
    const auto restored = inflate_raw(compressed, input.size());
    ASSERT_TRUE(restored.has_value()) << "zlib rejected the stream";
    EXPECT_TRUE(*restored == input);
    if (GetParam().at_most_ratio > 0) {
        EXPECT_LE(static_cast<double>(compressed.size()),
                  GetParam().at_most_ratio * static_cast<double>(input.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DeflateRoundTrip,
    ::testing::Values(
        RoundTripCase{"empty", [] { return Bytes{}; }},
        RoundTripCase{"one_byte", [] { return Bytes{42}; }},
        RoundTripCase{"three_bytes",
                      [] {
                          return Bytes{0, 0, 0};
                      }},
        RoundTripCase{"four_equal_bytes",
                      [] {
                          return Bytes{9, 9, 9, 9};
                      }},
        RoundTripCase{"seven_bytes", [] { return Bytes{1, 2, 3, 1, 2, 3, 1}; }},
        RoundTripCase{"zeros_1mb", [] { return Bytes(1 << 20, 0); }, 0.01},
        // Matches longer than 258 bytes are cut; odd periods cross every word.
        RoundTripCase{"period_3",
                      [] {
                          return repeat({1, 2, 3}, 100000);
                      },
                      0.02},
        RoundTripCase{"period_4_pixels",
                      [] {
                          return repeat({0, 0, 0, 255}, 100000);
                      },
                      0.02},
        // The farthest reachable repeat, and one just out of reach.
        RoundTripCase{"period_32768", [] { return repeat(random_bytes(32768, 1), 100000); }, 0.5},
        RoundTripCase{"period_32769", [] { return repeat(random_bytes(32769, 2), 100000); }},
        // Incompressible: stored blocks, split at 65535 bytes.
        RoundTripCase{"random_300k", [] { return random_bytes(300000, 3); }, 1.001},
        // Few distinct values: literals only, but a short code for them.
        RoundTripCase{"four_letter_alphabet", [] { return random_bytes(200000, 4, 4); }, 0.4},
        // More symbols than one block holds, with matches and literals mixed.
        RoundTripCase{"screen_rows", [] { return screen_rows(640, 200); }, 0.5},
        RoundTripCase{"text_lines",
                      [] {
                          std::string text;
                          for (int i = 0; i < 4000; ++i) {
                              text += "line " + std::to_string(i * 7919 % 1000) +
                                      ": lorem ipsum dolor sit amet\n";
                          }
                          return Bytes(text.begin(), text.end());
                      },
                      0.3}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return info.param.name; });

TEST(FastDeflate, JoinableStreamsConcatenateIntoOne) {
    // Strips compressed on their own, the last one final, form one stream.
    const std::vector<Bytes> pieces = {screen_rows(300, 40), Bytes(5000, 0), random_bytes(70000, 9),
                                       Bytes{1}, screen_rows(300, 30)};
    Bytes joined;
    Bytes expected;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const bool last = i + 1 == pieces.size();
        const Bytes part = compress(pieces[i], last ? DeflateEnd::final : DeflateEnd::joinable);
        if (!last) {
            // A sync point: an empty stored block ends the piece on a byte boundary.
            ASSERT_GE(part.size(), 4u);
            EXPECT_EQ(Bytes(part.end() - 4, part.end()), (Bytes{0x00, 0x00, 0xFF, 0xFF}));
        }
        joined.insert(joined.end(), part.begin(), part.end());
        expected.insert(expected.end(), pieces[i].begin(), pieces[i].end());
    }
    const auto restored = inflate_raw(joined, expected.size());
    ASSERT_TRUE(restored.has_value());
    EXPECT_TRUE(*restored == expected);
}

TEST(FastDeflate, JoinableStreamAloneIsNotFinished) {
    const Bytes part = compress(Bytes(1000, 7), DeflateEnd::joinable);
    EXPECT_FALSE(inflate_raw(part, 1000).has_value());
}

TEST(Adler32, AgreesWithZlibOverLengthsAndStartValues) {
    const Bytes data = random_bytes(20000, 11);
    const Bytes ones(20000, 0xFF);  // the largest sums
    for (const Bytes* bytes : {&data, &ones}) {
        for (const std::size_t size : {0, 1, 15, 16, 17, 5551, 5552, 5553, 11104, 20000}) {
            for (const std::uint32_t start : {1u, 0xFFF0FFF0u, 0x12345678u}) {
                const auto expected =
                    static_cast<std::uint32_t>(adler32(start, bytes->data(), size));
                EXPECT_EQ(adler32_update(start, bytes->data(), size), expected)
                    << "size " << size << " start " << start;
            }
        }
    }
}

// Checks a set of code lengths: complete (Kraft sum exactly 1), within the
// limit, zero exactly for unused symbols, and never longer for a more frequent symbol.
void expect_sound_code(const std::vector<std::uint32_t>& freq, int max_bits) {
    std::vector<std::uint8_t> lengths(freq.size(), 99);
    huffman_code_lengths(freq, max_bits, lengths);
    double kraft = 0;
    for (std::size_t i = 0; i < freq.size(); ++i) {
        EXPECT_EQ(freq[i] == 0, lengths[i] == 0) << "symbol " << i;
        EXPECT_LE(lengths[i], max_bits) << "symbol " << i;
        if (lengths[i] != 0) {
            kraft += std::ldexp(1.0, -lengths[i]);
        }
        for (std::size_t j = 0; j < freq.size(); ++j) {
            if (freq[i] > freq[j] && freq[j] != 0) {
                EXPECT_LE(lengths[i], lengths[j]) << "symbols " << i << " and " << j;
            }
        }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
}

TEST(HuffmanCodeLengths, SoundCodesForSkewedAndFlatFrequencies) {
    // Fibonacci weights make an unlimited tree 24 levels deep.
    std::vector<std::uint32_t> fibonacci(26);
    fibonacci[0] = fibonacci[1] = 1;
    for (std::size_t i = 2; i < fibonacci.size(); ++i) {
        fibonacci[i] = fibonacci[i - 1] + fibonacci[i - 2];
    }
    expect_sound_code(fibonacci, 15);
    expect_sound_code(fibonacci, 7);

    std::vector<std::uint32_t> with_gaps(286, 0);
    with_gaps[3] = 1;
    with_gaps[256] = 1;
    expect_sound_code(with_gaps, 15);
    with_gaps[285] = 1000;
    expect_sound_code(with_gaps, 15);

    expect_sound_code(std::vector<std::uint32_t>(286, 5), 15);
    expect_sound_code(std::vector<std::uint32_t>(19, 1), 7);
}

TEST(HuffmanCodeLengths, TwoSymbolsGetOneBitEach) {
    std::vector<std::uint8_t> lengths(30);
    std::vector<std::uint32_t> freq(30, 0);
    freq[0] = 1;
    freq[29] = 1000000;
    huffman_code_lengths(freq, 15, lengths);
    EXPECT_EQ(lengths[0], 1);
    EXPECT_EQ(lengths[29], 1);
    EXPECT_EQ(std::accumulate(lengths.begin(), lengths.end(), 0), 2);
}

}  // namespace
}  // namespace cua_actions::windows
