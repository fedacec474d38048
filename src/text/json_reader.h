#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace text {

struct JsonReadResult {
    nlohmann::json value;  // valid when error is empty
    std::string error;     // e.g. "EOF while parsing an object at line 1 column 1"
    bool ok() const { return error.empty(); }
};

// Parses exactly one JSON value, optionally surrounded by JSON whitespace, from the whole of
// `text` (already known to be valid UTF-8): a NUL byte is an error like any other stray byte,
// where nlohmann-json's own parser would stop there and ignore the rest. Reads the request line
// and the JSON printed by child programs. The reader is strict: no comments, no trailing commas, no
// byte order mark, at most 128 nested arrays/objects. On failure `error` holds a description
// followed by " at line L column C". Callers see these messages verbatim, so their wording and
// positions are fixed.
[[nodiscard]] JsonReadResult read_json(std::string_view text);

// A JSON number with a whole value of at least 0, integer or floating point alike (some
// clients send 800 as 800.0); larger values than 64 bits hold saturate. Else nothing.
[[nodiscard]] std::optional<std::uint64_t> whole_number(const nlohmann::json& value);

// The same, and only from `low` to `high`.
[[nodiscard]] std::optional<std::uint64_t> whole_number(const nlohmann::json& value,
                                                        std::uint64_t low, std::uint64_t high);

// A whole number written in decimal digits only (no sign, no space), from `low`
// to `high`: how settings in environment variables are read.
[[nodiscard]] std::optional<std::uint64_t> decimal_number(std::string_view digits,
                                                          std::uint64_t low, std::uint64_t high);

}  // namespace text
