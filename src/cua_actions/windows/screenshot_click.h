#pragma once
// The click of the screenshot_click unit (the screenshot itself lives in the
// screenshot_capture and screenshot_encode files).

#include "cua_actions/action_result.h"

namespace cua_actions::windows {

// "click" (right_button false) and "right_click" (true).
ActionResult handle_click(const Json& params, bool right_button);

}  // namespace cua_actions::windows
