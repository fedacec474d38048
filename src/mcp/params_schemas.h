// The actions' parameter schemas of docs/protocol, compiled into the program
// (the definition is generated from those files at build time).
#pragma once

#include <string_view>

namespace mcp {

// The JSON text of `<action>.params.schema.json`; empty for an unknown action.
std::string_view params_schema_text(std::string_view action);

}  // namespace mcp
