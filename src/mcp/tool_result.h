// How the executor's answer reads to an MCP client: the "tools/call" result
// for a finished, failed or ended run.
#pragma once

#include <optional>
#include <string>

#include "mcp/executor_client.h"
#include "mcp/tool_table.h"

namespace mcp {

// The "tools/call" result for what the executor gave; not for a cancelled run,
// which is never answered.
[[nodiscard]] Json call_tool_result(const Tool& tool, const ExecutorRun& run);

// The "data" object of a run that finished with "ok" true and status 0.
[[nodiscard]] std::optional<Json> success_data(const ExecutorRun& run);

// A tool result that reports `text` as an error.
[[nodiscard]] Json tool_error(std::string text);

}  // namespace mcp
