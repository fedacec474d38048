// The shared text rules over any bytes: UTF-8 validity agrees with a lossless round trip
// through UTF-16, character counts and prefixes agree with each other, trimming and
// lower-casing are stable, and base64 is a strict, canonical inverse of its encoder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "text/text.h"

namespace {

bool is_json_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::size_t code_points(std::u16string_view units) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool pair = units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() &&
                          units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        i += pair ? 1 : 0;
        ++count;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::u16string units = text::utf8_to_utf16(bytes);
    const std::string lossy = text::utf16_to_utf8(units);
    FUZZ_CHECK(text::is_valid_utf16(units) && text::is_valid_utf8(lossy));
    FUZZ_CHECK(text::is_valid_utf8(bytes) == (lossy == bytes));
    FUZZ_CHECK(text::utf8_char_count(bytes) == code_points(units));

    const std::size_t count = text::utf8_char_count(bytes);
    for (std::size_t n : {std::size_t{0}, count / 2, count, count + 1}) {
        const std::string prefix = text::utf8_prefix(bytes, n);
        FUZZ_CHECK(bytes.starts_with(prefix));
        FUZZ_CHECK(text::utf8_char_count(prefix) == std::min(n, count));
    }

    const std::string trimmed = text::trim(bytes);
    FUZZ_CHECK(bytes.find(trimmed) != std::string_view::npos);
    FUZZ_CHECK(text::trim(trimmed) == trimmed);
    FUZZ_CHECK(trimmed.empty() ||
               (!is_json_space(trimmed.front()) && !is_json_space(trimmed.back())));

    const std::string lower = text::to_lower(bytes);
    FUZZ_CHECK(text::is_valid_utf8(lower));
    FUZZ_CHECK(text::to_lower(lower) == lower);
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) {
        FUZZ_CHECK(lower == text::ascii_lower(bytes));  // in ASCII only A-Z change
    }

    const std::string encoded = text::base64_encode(bytes);
    FUZZ_CHECK(encoded.size() == (bytes.size() + 2) / 3 * 4);
    FUZZ_CHECK(text::base64_decode(encoded) == std::string(bytes));
    if (const std::optional<std::string> decoded = text::base64_decode(bytes)) {
        FUZZ_CHECK(text::base64_encode(*decoded) == bytes);
    }

    // The same bytes read as UTF-16 code units, unpaired surrogates included.
    std::u16string raw_units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        raw_units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    const std::string from_units = text::utf16_to_utf8(raw_units);
    FUZZ_CHECK(text::is_valid_utf8(from_units));
    if (text::is_valid_utf16(raw_units)) {
        FUZZ_CHECK(text::utf8_to_utf16(from_units) == raw_units);
    }
    return 0;
}
