// The shared text rules: whitespace trimming, case folding for matching, UTF-8 and UTF-16
// conversion, and base64. Every function takes bytes as they arrive (UTF-8 that may be invalid)
// and never fails on bad input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// Strips Unicode White_Space characters (space, tab, CR, LF, NBSP, U+3000, ...) from both ends.
// U+FEFF and zero-width characters are not whitespace; invalid bytes are kept as they are.
std::string trim(std::string_view s);
// Whether the code point has the White_Space property trim() strips.
bool is_white_space_code_point(std::uint32_t code_point);

// Full Unicode lower-case mapping with the root locale (ICU: link zelto_text_case): "İ" -> "i̇", "ΟΔΟΣ" -> "οδος".
// Invalid UTF-8 comes back as U+FFFD (maximal subpart rule, as in utf8_to_utf16).
std::string to_lower(std::string_view s);

// The pieces between separators, empty ones included: "a;;b" -> "a", "", "b"; "" -> "".
std::vector<std::string_view> split(std::string_view s, char separator);

// Lower-cases A-Z only; every other byte is unchanged.
std::string ascii_lower(std::string_view s);

// Strict: rejects overlong forms, surrogates (U+D800-DFFF) and values above U+10FFFF.
bool is_valid_utf8(std::string_view s);

// Each maximal invalid subpart becomes one U+FFFD: E2 82 41 -> U+FFFD 'A', F0 80 -> two U+FFFD.
std::u16string utf8_to_utf16(std::string_view s);

// False when the text holds an unpaired surrogate.
bool is_valid_utf16(std::u16string_view s);

// Unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(std::u16string_view s);

// Unicode scalar values; each maximal invalid subpart counts as one.
std::size_t utf8_char_count(std::string_view s);

// The first max_chars characters (counted as utf8_char_count does), never splitting one.
// Invalid bytes inside the prefix are kept as they are.
std::string utf8_prefix(std::string_view s, std::size_t max_chars);

// The parts joined into one string, sized once. Diagnostic lines are built with it: GCC 12 warns
// falsely (-Warray-bounds) about chains of std::string operator+ that start with a temporary.
inline std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts) {
        size += part.size();
    }
    std::string joined;
    joined.reserve(size);
    for (const std::string_view part : parts) {
        joined += part;
    }
    return joined;
}

// Standard alphabet, padded with '='.
std::string base64_encode(std::string_view bytes);
std::string base64_encode(const std::uint8_t* data, std::size_t size);
// The same, appended to `out` (large encodings skip a copy).
void base64_append(const std::uint8_t* data, std::size_t size, std::string& out);

// Strict: standard alphabet, length a multiple of 4, '=' only as final padding, unused bits
// zero, no whitespace. std::nullopt for anything else.
std::optional<std::string> base64_decode(std::string_view encoded);

}  // namespace text
