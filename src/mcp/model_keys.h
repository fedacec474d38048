// Key names as computer-use models write them (xdotool's keysyms, OpenAI's
// key list), in the executor's own names. A model's "Delete" is the forward
// Delete key; the executor's "delete" is Backspace, so names are never passed
// through unread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace mcp {

// The executor's name of one model key name, compared without regard to
// case; a single character stands for itself (the executor presses the key
// that types it). Nothing for a name no table holds.
[[nodiscard]] std::optional<std::string> executor_key_name(std::string_view model_name);

// A chord joined by "+" ("ctrl+shift+t", "ctrl++" for Control and plus), each
// part in the executor's names, in order; "Unknown key: {}" names the first
// part that is no key.
[[nodiscard]] zelto::Result<std::vector<std::string>> parse_chord(std::string_view chord);

// Whether an executor name is one of the modifiers a chord holds.
[[nodiscard]] bool is_modifier_name(std::string_view executor_name);

}  // namespace mcp
