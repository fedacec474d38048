// The full Unicode lower-case mapping, the one text rule that needs ICU.
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdint>

#include "text/text.h"

namespace text {

namespace {

// ICU takes int32_t lengths and lower-casing can triple a string's length, so longer input is
// handed over in pieces of this many UTF-16 units. Only context-sensitive mappings (final sigma)
// right at a piece boundary could differ, and only for strings of hundreds of megabytes.
constexpr std::size_t kIcuPieceUnits = std::size_t{1} << 28;
static_assert(kIcuPieceUnits * 3 <= INT32_MAX);

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
}

// Appends the lower-case form of `piece` to `out`; false if ICU fails.
bool append_lower(std::u16string& out, std::u16string_view piece) {
    const std::size_t start = out.size();
    // Most text keeps its length when lower-cased, so try that size first.
    out.resize(start + piece.size());
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = u_strToLower(out.data() + start, static_cast<int32_t>(piece.size()),
                                  piece.data(), static_cast<int32_t>(piece.size()), "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(start + static_cast<std::size_t>(length));
        status = U_ZERO_ERROR;
        length = u_strToLower(out.data() + start, length, piece.data(),
                              static_cast<int32_t>(piece.size()), "", &status);
    }
    if (U_FAILURE(status)) {
        out.resize(start);
        return false;
    }
    out.resize(start + static_cast<std::size_t>(length));
    return true;
}

}  // namespace

std::string to_lower(std::string_view s) {
    // The root locale maps ASCII exactly as A-Z -> a-z.
    if (is_ascii(s)) {
        return ascii_lower(s);
    }
    const std::u16string wide = utf8_to_utf16(s);
    const std::u16string_view units(wide);
    std::u16string lowered;
    lowered.reserve(units.size());
    for (std::size_t pos = 0; pos < units.size();) {
        std::size_t n = std::min(kIcuPieceUnits, units.size() - pos);
        if (pos + n < units.size() && U16_IS_LEAD(units[pos + n - 1])) {
            --n;  // keep a surrogate pair in one piece
        }
        if (!append_lower(lowered, units.substr(pos, n))) {
            // Only an allocation failure inside ICU gets here; keep the piece as it was.
            lowered.append(units.substr(pos, n));
        }
        pos += n;
    }
    return utf16_to_utf8(lowered);
}

}  // namespace text
