// Trimming, splitting and ASCII case: text rules that need no Unicode library.
#include <algorithm>
#include <array>
#include <cstdint>

#include "text/text.h"
#include "text/utf8_decode.h"

namespace text {

namespace {

// Unicode's White_Space property, unchanged since Unicode 6.3 (a unit test compares it with
// ICU's answer for every code point), listed here so that trimming links no Unicode library.
constexpr std::array<std::uint32_t, 25> kWhiteSpace{
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

bool is_white_space(const detail::DecodedChar& c) {
    return c.valid && is_white_space_code_point(c.value);
}

}  // namespace

bool is_white_space_code_point(std::uint32_t code_point) {
    return std::binary_search(kWhiteSpace.begin(), kWhiteSpace.end(), code_point);
}

std::string trim(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        const auto c = detail::decode_utf8_at(s, begin);
        if (!is_white_space(c)) {
            break;
        }
        begin += c.length;
    }
    // Walk forwards to find the end: UTF-8 with invalid bytes cannot be decoded reliably
    // from the back.
    std::size_t end = begin;
    for (std::size_t pos = begin; pos < s.size();) {
        const auto c = detail::decode_utf8_at(s, pos);
        pos += c.length;
        if (!is_white_space(c)) {
            end = pos;
        }
    }
    return std::string(s.substr(begin, end - begin));
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = s.find(separator, begin);
        pieces.push_back(s.substr(begin, end == std::string_view::npos ? end : end - begin));
        if (end == std::string_view::npos) {
            return pieces;
        }
        begin = end + 1;
    }
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
    return out;
}

}  // namespace text
