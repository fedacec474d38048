// Internal to src/text: one step of UTF-8 decoding or encoding, shared by the conversions, trim
// and the JSON reader.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace text::detail {

inline constexpr char32_t kReplacementChar = 0xFFFD;

struct DecodedChar {
    char32_t value;      // kReplacementChar when !valid
    std::size_t length;  // bytes consumed, at least 1
    bool valid;
};

// Decodes the character starting at s[pos] (pos < s.size()). An invalid sequence consumes its
// maximal subpart: the longest prefix of a well-formed sequence, or one byte when the first byte
// cannot start one. So E2 82 41 is {E2 82} then 'A', and F0 80 is {F0} then {80}.
inline DecodedChar decode_utf8_at(std::string_view s, std::size_t pos) noexcept {
    const auto lead = static_cast<unsigned char>(s[pos]);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t trail_count;
    char32_t value;
    // The second byte's range is narrowed for a few leads; this alone excludes overlongs,
    // surrogates and values above U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0xC2) {  // stray trail byte, or an overlong two-byte lead
        return {kReplacementChar, 1, false};
    } else if (lead < 0xE0) {
        trail_count = 1;
        value = lead & 0x1F;
    } else if (lead < 0xF0) {
        trail_count = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead < 0xF5) {
        trail_count = 3;
        value = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return {kReplacementChar, 1, false};
    }
    for (std::size_t i = 1; i <= trail_count; ++i) {
        if (pos + i >= s.size()) {
            return {kReplacementChar, i, false};
        }
        const auto byte = static_cast<unsigned char>(s[pos + i]);
        if (byte < low || byte > high) {
            return {kReplacementChar, i, false};
        }
        value = (value << 6) | (byte & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {value, trail_count + 1, true};
}

// Appends the UTF-8 form of a Unicode scalar value (cp <= U+10FFFF, not a surrogate).
inline void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace text::detail
