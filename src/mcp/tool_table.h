// The MCP tools: one per executor action, with its description, the facts that
// shape its input schema and result, and its annotations.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "mcp/image_positions.h"

namespace mcp {

using Json = nlohmann::json;

struct Tool {
    std::string_view name;  // also the executor's action name
    std::string_view title;
    std::string_view summary;  // what it does; the table adds the shared help it needs
    bool read_only = false;
    bool destructive = false;
    std::chrono::seconds time_limit{0};  // the action's worst case plus a margin
    // Pixel arguments of the latest screenshot it takes in place of positions;
    // empty when it takes none.
    std::span<const CoordinateKey> coordinates{};
    // Answers with an image (fitted to the response limit) instead of its data.
    bool returns_image = false;
    // Says how to point: coordinate in image pixels or position in fractions.
    bool explains_point = false;
    // Names display_ids and says where to find them all.
    bool names_displays = false;
    // Takes an element id of the latest ui_elements in place of a point.
    bool acts_on_elements = false;
    // Answers with the elements of a window as compact lines.
    bool lists_elements = false;
};

[[nodiscard]] std::span<const Tool> tools();
[[nodiscard]] const Tool* find_tool(std::string_view name);

// The summary followed by the shared help paragraphs the tool's facts call for.
[[nodiscard]] std::string tool_description(const Tool& tool);

// The result of "tools/list": every tool with its input schema.
[[nodiscard]] Json tools_list_result();

// The executor's request line for a call with these arguments (an object).
[[nodiscard]] std::string executor_request(const Tool& tool, const Json& arguments);

}  // namespace mcp
