// The MCP tools: one per executor action, with its description, input schema
// and annotations, the request it becomes and how its result reads to a client.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mcp/executor_client.h"

namespace mcp {

using Json = nlohmann::json;

struct Tool {
    std::string_view name;  // also the executor's action name
    std::string_view title;
    std::string_view description;
    bool read_only = false;
    bool destructive = false;
    std::chrono::seconds time_limit{0};  // the action's worst case plus a margin
};

[[nodiscard]] std::span<const Tool> tools();
[[nodiscard]] const Tool* find_tool(std::string_view name);

// The result of "tools/list": every tool with its input schema.
[[nodiscard]] Json tools_list_result();

// The executor's request line for a call with these arguments (an object).
[[nodiscard]] std::string executor_request(const Tool& tool, const Json& arguments);

// The "tools/call" result for what the executor gave; not for a cancelled run,
// which is never answered.
[[nodiscard]] Json call_tool_result(const Tool& tool, const ExecutorRun& run);

// The "data" object of a run that finished with "ok" true and status 0.
[[nodiscard]] std::optional<Json> success_data(const ExecutorRun& run);

// A tool result that reports `text` as an error.
[[nodiscard]] Json tool_error(std::string text);

}  // namespace mcp
