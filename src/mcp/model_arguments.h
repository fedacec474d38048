// What a tool call in a model's terms asks the executor for: key names and
// chords in the executor's names, a drag path and a zoom region in image pixels
// turned into the display's terms, and the tools that are not one action of
// their own (press picks press or press_combination, zoom is a screenshot of a
// region, wait runs nothing).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "mcp/image_positions.h"

namespace mcp {

using Json = nlohmann::json;

struct ExecutorCall {
    std::string action;  // empty: nothing to run (wait without a screenshot)
    Json params;
};

// `arguments` has its coordinates already converted to positions.
[[nodiscard]] zelto::Result<ExecutorCall> executor_call(std::string_view tool,
                                                        const Json& arguments,
                                                        const ScreenshotMemory& memory);

// The input schema of a tool whose arguments are in a model's terms rather than
// the action's; none for the others.
[[nodiscard]] std::optional<Json> model_input_schema(std::string_view tool);

// "wait": the seconds to wait, 0 to 30.
[[nodiscard]] zelto::Result<double> wait_seconds(const Json& arguments);

// cursor_position's data with "coordinate" added: the pointer in pixels of the
// latest screenshot of its display, when it lies inside that image.
[[nodiscard]] Json with_image_coordinate(Json data, const ScreenshotMemory& memory);

}  // namespace mcp
