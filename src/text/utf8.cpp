#include "text/text.h"
#include "text/utf8_decode.h"

namespace text {

namespace {

using detail::append_utf8;
using detail::decode_utf8_at;

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
    std::size_t pos = 0;
    while (pos < s.size()) {
        if (static_cast<unsigned char>(s[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const auto c = decode_utf8_at(s, pos);
        if (!c.valid) {
            return false;
        }
        pos += c.length;
    }
    return true;
}

std::u16string utf8_to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());  // never more units than bytes
    std::size_t pos = 0;
    while (pos < s.size()) {
        const auto c = decode_utf8_at(s, pos);
        pos += c.length;
        if (c.value < 0x10000) {
            out.push_back(static_cast<char16_t>(c.value));
        } else {
            const char32_t v = c.value - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size() * 3 / 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t unit = s[i];
        if (is_high_surrogate(unit) && i + 1 < s.size() && is_low_surrogate(s[i + 1])) {
            append_utf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, detail::kReplacementChar);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

std::size_t utf8_char_count(std::string_view s) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < s.size(); ++count) {
        pos += decode_utf8_at(s, pos).length;
    }
    return count;
}

std::string utf8_prefix(std::string_view s, std::size_t max_chars) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < max_chars && pos < s.size(); ++n) {
        pos += decode_utf8_at(s, pos).length;
    }
    return std::string(s.substr(0, pos));
}

bool is_valid_utf16(std::u16string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t unit = s[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

}  // namespace text
