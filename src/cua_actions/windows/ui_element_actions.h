#pragma once
// Acting on an element of the latest ui_elements: found again by its path and
// checked to still have the same role and name, or a failure and nothing done.

#include <cstdint>
#include <memory>

#include "common/result.h"
#include "cua_actions/action_result.h"
#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/ui_elements.h"

namespace cua_actions::windows {

inline constexpr std::uint32_t kElementFocusClickMs = 50;  // each step of the focusing click
inline constexpr std::uint32_t kSetValueSettleMs = 50;

// params' "element" (with "window_id" or the window walked last) as it reads now.
zelto::Result<UiElement> resolve_element(const Json& params);

// Where a click on params' element lands: its centre, after its window came to the
// foreground. The mapping names the element.
zelto::Result<ClickPoint> element_click_point(const Json& params);

// Brings the element's window forward and clicks its centre, so typing reaches it.
zelto::Status focus_element(const Json& params);

// "set_value": an editable element's text through accessibility, else by focusing
// it, selecting all and typing.
ActionResult handle_set_value(const Json& params);

}  // namespace cua_actions::windows
