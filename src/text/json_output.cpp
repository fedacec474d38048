#include "text/json_output.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string_view>

#include "text/utf8_decode.h"

namespace text {
namespace {

// Plain notation is used while the decimal point falls within this many places of the first
// digit; beyond that, exponent notation ("1e+16", "1e-05"). These are the bounds nlohmann's own
// serializer uses, so only the digits changed when this writer replaced it.
constexpr int kLowestPlainPointPosition = -3;   // 0.0001 is plain, 0.00001 is 1e-05
constexpr int kHighestPlainPointPosition = 15;  // 999999999999999.0 is plain, 1e15 is 1e+15

void append_exponent(std::string& out, int exponent) {
    out += exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) {
        out += '0';  // at least two digits, as printf's %g writes them
    }
    char digits[4];
    const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    out.append(digits, end);
}

// Shortest digits that read back to the same double, from std::to_chars, laid out in plain or
// exponent notation; whole values in plain notation keep ".0" so they read as floats.
void append_double(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // Scientific form, "-d.ddde+XX": its digits are the shortest round-trip digits.
    char buffer[32];
    const std::string_view scientific(
        buffer,
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr -
            buffer);
    std::string_view rest = scientific;
    if (rest.front() == '-') {
        out += '-';
        rest.remove_prefix(1);
    }
    const std::size_t e = rest.find('e');
    std::string digits;
    digits += rest.front();
    if (e > 1) {
        digits.append(rest.substr(2, e - 2));  // skip "d."
    }
    int exponent = 0;
    const std::string_view exponent_text = rest.substr(e + 1);
    std::from_chars(exponent_text.data() + (exponent_text.front() == '+' ? 1 : 0),
                    exponent_text.data() + exponent_text.size(), exponent);

    const int count = static_cast<int>(digits.size());
    const int point = exponent + 1;  // the decimal point sits after this many digits
    if (point >= count && point <= kHighestPlainPointPosition) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
        out += ".0";
    } else if (point > 0 && point <= kHighestPlainPointPosition) {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point));
    } else if (point >= kLowestPlainPointPosition && point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else {
        out += digits.front();
        if (count > 1) {
            out += '.';
            out.append(digits, 1);
        }
        append_exponent(out, exponent);
    }
}

template <typename Integer>
void append_integer(std::string& out, Integer value) {
    char buffer[24];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

void append_string(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t pos = 0;
    while (pos < s.size()) {
        const auto byte = static_cast<unsigned char>(s[pos]);
        if (byte >= 0x80) {
            const detail::DecodedChar c = detail::decode_utf8_at(s, pos);
            if (c.valid) {
                out.append(s, pos, c.length);
            } else {
                out += "\xEF\xBF\xBD";  // U+FFFD for each maximal invalid subpart
            }
            pos += c.length;
            continue;
        }
        ++pos;
        switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += static_cast<char>(byte);
                }
        }
    }
    out += '"';
}

void append_value(std::string& out, const nlohmann::json& value) {
    using Type = nlohmann::json::value_t;
    switch (value.type()) {
        case Type::null:
            out += "null";
            return;
        case Type::boolean:
            out += value.get_ref<const bool&>() ? "true" : "false";
            return;
        case Type::number_integer:
            append_integer(out, value.get_ref<const std::int64_t&>());
            return;
        case Type::number_unsigned:
            append_integer(out, value.get_ref<const std::uint64_t&>());
            return;
        case Type::number_float:
            append_double(out, value.get_ref<const double&>());
            return;
        case Type::string:
            append_string(out, value.get_ref<const std::string&>());
            return;
        case Type::array: {
            out += '[';
            bool first = true;
            for (const nlohmann::json& element : value) {
                if (!first) {
                    out += ',';
                }
                first = false;
                append_value(out, element);
            }
            out += ']';
            return;
        }
        case Type::object: {
            // The object type is a std::map: iteration is already ascending byte order.
            out += '{';
            bool first = true;
            for (const auto& [key, member] : value.get_ref<const nlohmann::json::object_t&>()) {
                if (!first) {
                    out += ',';
                }
                first = false;
                append_string(out, key);
                out += ':';
                append_value(out, member);
            }
            out += '}';
            return;
        }
        case Type::binary:
        case Type::discarded:
            // Never built by this program; nlohmann's own form keeps the output valid JSON.
            out += value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            return;
    }
}

}  // namespace

std::string json_dump(const nlohmann::json& value) {
    std::string out;
    append_value(out, value);
    return out;
}

}  // namespace text
