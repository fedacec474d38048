// The ui_elements answer as a model reads it: compact lines, one per element,
// with the element's centre as a display position and, when a screenshot of that
// display was returned, as a pixel of that image.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "mcp/image_positions.h"

namespace mcp {

// A header naming the window, the display and how to read the lines, then
//   [2] button "Press me" (78.1, 115.7) [150, 125] {focused}
// per element: id, role, name, " = value" when it has one, the centre as a position
// (thousandths of the display), the centre in pixels of `image` when given, and the
// states it has.
[[nodiscard]] std::string elements_text(const Json& data, const ImageGeometry* image);

// The screenshot a ui_elements result's display was last returned as: the one taken with
// its display_id, else (for the display at 0,0, the primary) the one taken without.
[[nodiscard]] const ImageGeometry* screenshot_of_display(const Json& data,
                                                         const ScreenshotMemory& memory);

}  // namespace mcp
