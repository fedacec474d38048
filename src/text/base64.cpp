#include <array>

#include "text/text.h"

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

}  // namespace

void base64_append(const std::uint8_t* data, std::size_t size, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + ((size + 2) / 3) * 4, kPad);
    char* o = out.data() + start;
    std::size_t i = 0;
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
