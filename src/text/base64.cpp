#include <array>

#include "text/text.h"

// SSSE3 encodes twelve bytes per step; it is compiled in beside the plain loop
// and used where the processor has it (GCC and Clang, MinGW included).
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <immintrin.h>
#define ZELTO_BASE64_SSSE3 1
#endif

namespace text {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::int8_t kNotInAlphabet = -1;

constexpr std::array<std::int8_t, 256> make_decode_table() {
    std::array<std::int8_t, 256> table{};
    table.fill(kNotInAlphabet);
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    }
    return table;
}
constexpr std::array<std::int8_t, 256> kDecodeTable = make_decode_table();

int sextet(char ch) {
    return kDecodeTable[static_cast<unsigned char>(ch)];
}

#ifdef ZELTO_BASE64_SSSE3
bool cpu_has_ssse3() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

// Encodes whole 12-byte groups while 16 bytes can be loaded and returns the
// bytes done. Each group's four 3-byte runs are spread to one 32-bit lane,
// split into sextets by two multiplies, and each sextet is mapped to its
// character by adding the offset of its range of the alphabet.
__attribute__((target("ssse3"))) std::size_t encode_groups_ssse3(const std::uint8_t* data,
                                                                 std::size_t size, char* out) {
    const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
    const __m128i first_and_third = _mm_set1_epi32(0x0FC0FC00);
    const __m128i shift_first_and_third = _mm_set1_epi32(0x04000040);
    const __m128i second_and_fourth = _mm_set1_epi32(0x003F03F0);
    const __m128i shift_second_and_fourth = _mm_set1_epi32(0x01000010);
    // Sextets 0-25 map to range 13, 26-51 to 0, 52-61 to 1-10, 62 to 11, 63 to 12.
    const __m128i range_offset =
        _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    std::size_t done = 0;
    for (; done + 16 <= size; done += 12, out += 16) {
        const __m128i lanes = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + done)), spread);
        const __m128i sextets = _mm_or_si128(
            _mm_mulhi_epu16(_mm_and_si128(lanes, first_and_third), shift_first_and_third),
            _mm_mullo_epi16(_mm_and_si128(lanes, second_and_fourth), shift_second_and_fourth));
        __m128i range = _mm_subs_epu8(sextets, _mm_set1_epi8(51));
        const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), sextets);
        range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_add_epi8(sextets, _mm_shuffle_epi8(range_offset, range)));
    }
    return done;
}
#endif

}  // namespace

void base64_append(const std::uint8_t* data, std::size_t size, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + ((size + 2) / 3) * 4, kPad);
    char* o = out.data() + start;
    std::size_t i = 0;
#ifdef ZELTO_BASE64_SSSE3
    if (cpu_has_ssse3()) {
        i = encode_groups_ssse3(data, size, o);
        o += i / 3 * 4;
    }
#endif
    for (; i + 3 <= size; i += 3, o += 4) {
        const std::uint32_t v = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) |
                                std::uint32_t{data[i + 2]};
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 0x3F];
        o[2] = kAlphabet[(v >> 6) & 0x3F];
        o[3] = kAlphabet[v & 0x3F];
    }
    const std::size_t rest = size - i;
    if (rest > 0) {
        const std::uint32_t v =
            (std::uint32_t{data[i]} << 16) | (rest == 2 ? std::uint32_t{data[i + 1]} << 8 : 0);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 0x3F];
        if (rest == 2) {
            o[2] = kAlphabet[(v >> 6) & 0x3F];
        }
        // The remaining positions already hold the padding.
    }
}

std::string base64_encode(const std::uint8_t* data, std::size_t size) {
    std::string out;
    base64_append(data, size, out);
    return out;
}

std::string base64_encode(std::string_view bytes) {
    return base64_encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::optional<std::string> base64_decode(std::string_view encoded) {
    if (encoded.size() % 4 != 0) {
        return std::nullopt;
    }
    if (encoded.empty()) {
        return std::string();
    }
    const std::size_t padding = encoded.back() != kPad                ? 0
                                : encoded[encoded.size() - 2] != kPad ? 1
                                                                      : 2;
    std::string out;
    out.reserve(encoded.size() / 4 * 3);
    for (std::size_t i = 0; i < encoded.size(); i += 4) {
        const bool last = i + 4 == encoded.size();
        const std::size_t data_chars = last ? 4 - padding : 4;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int bits = 0;
            if (k < data_chars) {
                bits = sextet(encoded[i + k]);
                if (bits == kNotInAlphabet) {
                    return std::nullopt;  // includes '=' anywhere but the final padding
                }
            }
            v = (v << 6) | static_cast<std::uint32_t>(bits);
        }
        out.push_back(static_cast<char>(v >> 16));
        if (data_chars == 2) {
            // Only one byte encoded: the 4 bits after it must be zero, or two texts decode alike.
            if ((v & 0xFFFF) != 0) {
                return std::nullopt;
            }
            continue;
        }
        out.push_back(static_cast<char>((v >> 8) & 0xFF));
        if (data_chars == 3) {
            if ((v & 0xFF) != 0) {
                return std::nullopt;
            }
            continue;
        }
        out.push_back(static_cast<char>(v & 0xFF));
    }
    return out;
}

}  // namespace text
