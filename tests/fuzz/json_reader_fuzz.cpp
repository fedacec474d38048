// The strict JSON reader against nlohmann-json: the same verdict and the same value for
// every valid UTF-8 text, except where the reader is stricter on purpose (a NUL byte, more
// than 128 nested levels). Its error texts keep their "<description> at line L column C"
// form, and every value it accepts reads back unchanged from its compact dump.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_check.h"
#include "text/json_output.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace {

using nlohmann::json;

// Structural equality that also tells integers from floating-point numbers. A zero may
// differ in kind: "-0" keeps its sign in the reader, which only a double carries.
bool same_value(const json& a, const json& b) {
    if (a.is_number() && b.is_number()) {
        if (a.is_number_float() || b.is_number_float()) {
            if (a.is_number_float() != b.is_number_float()) {
                return a.get<double>() == 0.0 && b.get<double>() == 0.0;
            }
            const double x = a.get<double>();
            const double y = b.get<double>();
            return x == y && std::signbit(x) == std::signbit(y);
        }
        if (a.is_number_unsigned() != b.is_number_unsigned()) {
            // "-0" reads as a signed zero, "0" as an unsigned one: the same integer.
            return a == 0 && b == 0;
        }
        return a == b;
    }
    if (a.type() != b.type()) {
        return false;
    }
    if (a.is_object()) {
        if (a.size() != b.size()) {
            return false;
        }
        for (auto it = a.begin(); it != a.end(); ++it) {
            const auto other = b.find(it.key());
            if (other == b.end() || !same_value(it.value(), *other)) {
                return false;
            }
        }
        return true;
    }
    if (a.is_array()) {
        if (a.size() != b.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!same_value(a[i], b[i])) {
                return false;
            }
        }
        return true;
    }
    return a == b;
}

const std::set<std::string, std::less<>>& known_descriptions() {
    static const std::set<std::string, std::less<>> descriptions{
        "EOF while parsing a value",
        "EOF while parsing a list",
        "EOF while parsing an object",
        "EOF while parsing a string",
        "control character (\\u0000-\\u001F) found while parsing a string",
        "expected value",
        "expected ident",
        "invalid number",
        "number out of range",
        "invalid escape",
        "lone leading surrogate in hex escape",
        "invalid unicode code point",
        "trailing comma",
        "trailing characters",
        "key must be a string",
        "expected `:`",
        "expected `,` or `]`",
        "expected `,` or `}`",
        "recursion limit exceeded"};
    return descriptions;
}

// "<description> at line L column C", with the position inside the text.
void check_error_form(std::string_view text, const std::string& error) {
    const std::size_t at = error.rfind(" at line ");
    FUZZ_CHECK(at != std::string::npos);
    FUZZ_CHECK(known_descriptions().count(std::string_view(error).substr(0, at)) == 1);
    std::size_t line = 0;
    std::size_t column = 0;
    int used = 0;
    FUZZ_CHECK(
        std::sscanf(error.c_str() + at, " at line %zu column %zu%n", &line, &column, &used) == 2);
    FUZZ_CHECK(static_cast<std::size_t>(used) == error.size() - at);
    std::size_t lines = 1;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    FUZZ_CHECK(line >= 1 && line <= lines);
    FUZZ_CHECK(column <= text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const text::JsonReadResult ours = text::read_json(text);
    if (!ours.ok()) {
        FUZZ_CHECK(ours.value.is_null());
        check_error_form(text, ours.error);
    }
    // The reader takes valid UTF-8 only (its callers check or decode first).
    if (!text::is_valid_utf8(text)) {
        return 0;
    }
    if (text.find('\0') != std::string_view::npos) {
        FUZZ_CHECK(!ours.ok());  // never part of a JSON text; nlohmann stops reading there
        return 0;
    }
    if (!ours.ok() && ours.error.starts_with("recursion limit exceeded")) {
        return 0;  // nlohmann-json has no depth limit
    }
    const json theirs = json::parse(text, nullptr, /*allow_exceptions=*/false);
    FUZZ_CHECK(ours.ok() == !theirs.is_discarded());
    if (!ours.ok()) {
        return 0;
    }
    FUZZ_CHECK(same_value(ours.value, theirs));

    const std::string dumped = text::json_dump(ours.value);
    const text::JsonReadResult again = text::read_json(dumped);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(same_value(again.value, ours.value));
    FUZZ_CHECK(text::json_dump(again.value) == dumped);
    return 0;
}
