// The one way this program turns JSON values into text.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace text {

// Compact JSON: object keys in ascending byte order; only '"', '\\' and U+0000-U+001F escaped
// (\b \t \n \f \r, the rest as \u00xx); '/', DEL and non-ASCII written as they are; invalid UTF-8
// inside strings replaced by U+FFFD; floats in shortest round-trip form with whole values as
// "1920.0"; NaN and infinities as null.
std::string json_dump(const nlohmann::json& value);

}  // namespace text
