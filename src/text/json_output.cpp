#include "text/json_output.h"

#include <nlohmann/json.hpp>

namespace text {

// nlohmann's serializer already follows every rule above: std::map keeps keys in byte order, it
// escapes only quote, backslash and control characters, and prints doubles shortest round-trip
// with ".0" on whole values and null for non-finite ones. The replace handler keeps a stray byte
// in a window title from turning a result into an exception.
std::string json_dump(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace text
