// A tool's input schema: the action's parameter schema from docs/protocol,
// with pixel coordinates accepted in place of positions, or the screenshot's
// own arguments.
#pragma once

#include "mcp/tool_table.h"

namespace mcp {

[[nodiscard]] Json input_schema(const Tool& tool);

}  // namespace mcp
