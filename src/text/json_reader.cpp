#include "text/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "text/utf8_decode.h"

namespace text {
namespace {

using detail::append_utf8;

// Deepest nesting of arrays/objects accepted. It also bounds the recursion below, so a
// request made of millions of '[' fails at the first bracket past the limit instead of
// exhausting the stack.
constexpr int kMaxDepth = 128;

constexpr std::string_view kEofValue = "EOF while parsing a value";
constexpr std::string_view kEofList = "EOF while parsing a list";
constexpr std::string_view kEofObject = "EOF while parsing an object";
constexpr std::string_view kEofString = "EOF while parsing a string";
constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view kExpectedValue = "expected value";
constexpr std::string_view kExpectedIdent = "expected ident";
constexpr std::string_view kInvalidNumber = "invalid number";
constexpr std::string_view kNumberOutOfRange = "number out of range";
constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kLoneLeadingSurrogate = "lone leading surrogate in hex escape";
constexpr std::string_view kInvalidCodePoint = "invalid unicode code point";
constexpr std::string_view kTrailingComma = "trailing comma";
constexpr std::string_view kTrailingCharacters = "trailing characters";
constexpr std::string_view kKeyMustBeString = "key must be a string";
constexpr std::string_view kExpectedColon = "expected `:`";
constexpr std::string_view kExpectedCommaOrBracket = "expected `,` or `]`";
constexpr std::string_view kExpectedCommaOrBrace = "expected `,` or `}`";
constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Only these four separate tokens; form feed, NBSP and a byte order mark are not whitespace.
bool is_json_whitespace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// For an already validated number whose conversion left the double range: true when it
// is too large (an error), false when it is too small (it becomes a signed zero). Only the
// decimal place of the first significant digit matters, so the exponent may saturate.
bool exceeds_double_range(std::string_view number) {
    std::size_t i = number.front() == '-' ? 1 : 0;
    std::optional<std::int64_t> place;  // decimal exponent of the first significant digit
    const std::size_t integer_start = i;
    while (i < number.size() && is_digit(number[i]))
        ++i;
    for (std::size_t k = integer_start; k < i && !place; ++k) {
        if (number[k] != '0')
            place = static_cast<std::int64_t>(i - k) - 1;
    }
    if (i < number.size() && number[i] == '.') {
        for (std::int64_t position = -1; ++i < number.size() && is_digit(number[i]); --position) {
            if (!place && number[i] != '0')
                place = position;
        }
    }
    if (!place)
        return false;
    std::int64_t exponent = 0;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        bool negative = false;
        if (number[i] == '+' || number[i] == '-')
            negative = number[i++] == '-';
        constexpr std::int64_t kSaturated = 1'000'000'000;
        for (; i < number.size(); ++i) {
            exponent = std::min(kSaturated, exponent * 10 + (number[i] - '0'));
        }
        if (negative)
            exponent = -exponent;
    }
    return *place + exponent >= 0;
}

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool read_whole_text(nlohmann::json& out) {
        skip_whitespace();
        if (!read_value(out))
            return false;
        skip_whitespace();
        if (!at_end())
            return fail_peek(kTrailingCharacters);
        return true;
    }

    std::string take_error() { return std::move(error_); }

  private:
    bool at_end() const { return index_ >= text_.size(); }
    unsigned char current() const { return static_cast<unsigned char>(text_[index_]); }

    // Reads one byte; the end of the text reads as NUL without moving, so a missing byte
    // is reported at the last byte consumed.
    unsigned char next_or_nul() {
        return at_end() ? 0 : static_cast<unsigned char>(text_[index_++]);
    }

    void skip_whitespace() {
        while (!at_end() && is_json_whitespace(current()))
            ++index_;
    }

    bool fail_at(std::size_t position, std::string_view description) {
        std::size_t line = 1;
        std::size_t line_start = 0;
        for (std::size_t i = 0; i < position; ++i) {
            if (text_[i] == '\n') {
                ++line;
                line_start = i + 1;
            }
        }
        error_.assign(description);
        error_ +=
            " at line " + std::to_string(line) + " column " + std::to_string(position - line_start);
        return false;
    }

    // Reported at the byte being looked at (1-based), or at the last byte at the end.
    bool fail_peek(std::string_view description) {
        return fail_at(std::min(index_ + 1, text_.size()), description);
    }

    // Reported at the last byte consumed.
    bool fail_consumed(std::string_view description) { return fail_at(index_, description); }

    bool read_value(nlohmann::json& out) {
        if (at_end())
            return fail_peek(kEofValue);
        switch (current()) {
            case 'n':
                ++index_;
                if (!expect_rest("ull"))
                    return false;
                out = nullptr;
                return true;
            case 't':
                ++index_;
                if (!expect_rest("rue"))
                    return false;
                out = true;
                return true;
            case 'f':
                ++index_;
                if (!expect_rest("alse"))
                    return false;
                out = false;
                return true;
            case '-':
                ++index_;
                return read_number(out, index_ - 1, true);
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7':
            case '8':
            case '9':
                return read_number(out, index_, false);
            case '"': {
                ++index_;
                std::string text;
                if (!read_string(text))
                    return false;
                out = std::move(text);
                return true;
            }
            case '[':
            case '{': {
                if (depth_ == kMaxDepth)
                    return fail_peek(kRecursionLimit);
                ++depth_;
                const bool ok = current() == '[' ? read_array(out) : read_object(out);
                --depth_;
                return ok;
            }
            default:
                return fail_peek(kExpectedValue);
        }
    }

    bool expect_rest(std::string_view rest) {
        for (char expected : rest) {
            if (at_end())
                return fail_consumed(kEofValue);
            if (text_[index_++] != expected)
                return fail_consumed(kExpectedIdent);
        }
        return true;
    }

    bool read_array(nlohmann::json& out) {
        ++index_;  // '['
        out = nlohmann::json::array();
        skip_whitespace();
        if (at_end())
            return fail_peek(kEofList);
        if (current() == ']') {
            ++index_;
            return true;
        }
        for (;;) {
            out.push_back(nlohmann::json());
            if (!read_value(out.back()))
                return false;
            const Separator next = read_separator(']', kEofList, kExpectedCommaOrBracket);
            if (next != Separator::kComma)
                return next == Separator::kClosed;
        }
    }

    bool read_object(nlohmann::json& out) {
        ++index_;  // '{'
        out = nlohmann::json::object();
        skip_whitespace();
        if (at_end())
            return fail_peek(kEofObject);
        if (current() == '}') {
            ++index_;
            return true;
        }
        for (;;) {
            if (current() != '"')
                return fail_peek(kKeyMustBeString);
            ++index_;
            std::string key;
            if (!read_string(key))
                return false;
            skip_whitespace();
            if (at_end())
                return fail_peek(kEofObject);
            if (current() != ':')
                return fail_peek(kExpectedColon);
            ++index_;
            skip_whitespace();
            nlohmann::json value;
            if (!read_value(value))
                return false;
            out[std::move(key)] = std::move(value);  // a repeated key keeps the last value
            const Separator next = read_separator('}', kEofObject, kExpectedCommaOrBrace);
            if (next != Separator::kComma)
                return next == Separator::kClosed;
        }
    }

    enum class Separator { kClosed, kComma, kFailed };

    // What follows an array element or an object member: the closing bracket, or a comma
    // and then another element (never the closing bracket: no trailing comma).
    Separator read_separator(char closing, std::string_view eof, std::string_view expected) {
        skip_whitespace();
        std::string_view failure;
        if (at_end()) {
            failure = eof;
        } else if (current() == closing) {
            ++index_;
            return Separator::kClosed;
        } else if (current() != ',') {
            failure = expected;
        } else {
            ++index_;
            skip_whitespace();
            if (at_end()) {
                failure = kEofValue;
            } else if (current() == closing) {
                failure = kTrailingComma;
            } else {
                return Separator::kComma;
            }
        }
        fail_peek(failure);
        return Separator::kFailed;
    }

    // Called after the opening quote.
    bool read_string(std::string& out) {
        for (;;) {
            const std::size_t run_start = index_;
            while (!at_end()) {
                const unsigned char c = current();
                if (c == '"' || c == '\\' || c < 0x20)
                    break;
                ++index_;
            }
            out.append(text_.substr(run_start, index_ - run_start));
            if (at_end())
                return fail_consumed(kEofString);
            const unsigned char c = static_cast<unsigned char>(text_[index_++]);
            if (c == '"')
                return true;
            if (c != '\\')
                return fail_consumed(kControlCharacter);
            if (at_end())
                return fail_consumed(kEofString);
            switch (text_[index_++]) {
                case '"':
                    out.push_back('"');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                case '/':
                    out.push_back('/');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u':
                    if (!read_unicode_escape(out))
                        return false;
                    break;
                default:
                    return fail_consumed(kInvalidEscape);
            }
        }
    }

    // The four hex digits after "\u".
    bool read_hex4(std::uint32_t& unit) {
        if (text_.size() - index_ < 4) {
            index_ = text_.size();
            return fail_consumed(kEofString);
        }
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(static_cast<unsigned char>(text_[index_++]));
            if (digit < 0)
                return fail_consumed(kInvalidEscape);
            unit = unit * 16 + static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    // Called after "\u". A UTF-16 surrogate pair written as two escapes becomes one code
    // point; half a pair cannot be written as UTF-8 and is refused.
    bool read_unicode_escape(std::string& out) {
        std::uint32_t first = 0;
        if (!read_hex4(first))
            return false;
        if (first >= 0xDC00 && first <= 0xDFFF)
            return fail_consumed(kInvalidCodePoint);
        if (first < 0xD800 || first > 0xDBFF) {
            append_utf8(out, first);
            return true;
        }
        for (char expected : {'\\', 'u'}) {
            if (at_end())
                return fail_consumed(kEofString);
            if (text_[index_++] != expected)
                return fail_consumed(kLoneLeadingSurrogate);
        }
        std::uint32_t second = 0;
        if (!read_hex4(second))
            return false;
        if (second < 0xDC00 || second > 0xDFFF)
            return fail_consumed(kLoneLeadingSurrogate);
        append_utf8(out, 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
        return true;
    }

    // `start` is where the number's text begins (its '-' if negative); `index_` is just past
    // the sign.
    bool read_number(nlohmann::json& out, std::size_t start, bool negative) {
        constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t magnitude = 0;
        bool fits = true;
        const unsigned char lead = next_or_nul();
        if (lead == '0') {
            if (!at_end() && is_digit(current()))
                return fail_peek(kInvalidNumber);
        } else if (lead >= '1' && lead <= '9') {
            magnitude = lead - '0';
            for (; !at_end() && is_digit(current()); ++index_) {
                const unsigned digit = current() - '0';
                if (magnitude > (kMax - digit) / 10)
                    fits = false;
                if (fits)
                    magnitude = magnitude * 10 + digit;
            }
        } else {
            return fail_consumed(kInvalidNumber);
        }

        bool integral = true;
        if (!at_end() && current() == '.') {
            ++index_;
            if (at_end())
                return fail_peek(kEofValue);
            if (!is_digit(current()))
                return fail_peek(kInvalidNumber);
            while (!at_end() && is_digit(current()))
                ++index_;
            integral = false;
        }
        if (!at_end() && (current() == 'e' || current() == 'E')) {
            ++index_;
            if (!at_end() && (current() == '+' || current() == '-'))
                ++index_;
            if (!is_digit(next_or_nul()))
                return fail_consumed(kInvalidNumber);
            while (!at_end() && is_digit(current()))
                ++index_;
            integral = false;
        }

        if (integral && fits) {
            constexpr std::uint64_t kMinInt64Magnitude = std::uint64_t{1} << 63;
            if (!negative) {
                out = magnitude;
                return true;
            }
            if (magnitude == 0) {  // the integer -0 is 0; only "-0.0" or "-0e0" keep the sign
                out = std::int64_t{0};
                return true;
            }
            if (magnitude <= kMinInt64Magnitude) {
                // Negate in unsigned arithmetic so -9223372036854775808 does not overflow.
                out = static_cast<std::int64_t>(~magnitude + 1);
                return true;
            }
        }

        const std::string_view number = text_.substr(start, index_ - start);
        double value = 0.0;
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                               std::chars_format::general);
        if (ec == std::errc::result_out_of_range) {
            if (exceeds_double_range(number))
                return fail_consumed(kNumberOutOfRange);
            value = negative ? -0.0 : 0.0;
        } else if (ec != std::errc() || end != number.data() + number.size()) {
            return fail_consumed(kInvalidNumber);  // unreachable: the syntax was checked above
        }
        if (std::isinf(value))
            return fail_consumed(kNumberOutOfRange);
        out = value;
        return true;
    }

    std::string_view text_;
    std::size_t index_ = 0;
    int depth_ = 0;
    std::string error_;
};

}  // namespace

JsonReadResult read_json(std::string_view text) {
    JsonReadResult result;
    Reader reader(text);
    if (!reader.read_whole_text(result.value)) {
        result.value = nullptr;
        result.error = reader.take_error();
    }
    return result;
}

std::optional<std::uint64_t> whole_number(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>();
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        return number >= 0 ? std::optional(static_cast<std::uint64_t>(number)) : std::nullopt;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || number < 0 || std::floor(number) != number) {
            return std::nullopt;
        }
        constexpr double kLimit = 18446744073709549568.0;  // the largest double below 2^64
        return number >= kLimit ? std::numeric_limits<std::uint64_t>::max()
                                : static_cast<std::uint64_t>(number);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> whole_number(const nlohmann::json& value, std::uint64_t low,
                                          std::uint64_t high) {
    const std::optional<std::uint64_t> number = whole_number(value);
    return number && *number >= low && *number <= high ? number : std::nullopt;
}

std::optional<std::uint64_t> decimal_number(std::string_view digits, std::uint64_t low,
                                            std::uint64_t high) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace text
