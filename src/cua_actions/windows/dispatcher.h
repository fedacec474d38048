#pragma once
// The action dispatcher: DPI step, start time, one action, timing record.

#include <string>

#include "cua_actions/action_result.h"

namespace cua_actions::windows {

// Component name carried by every timing record of this dispatcher.
inline constexpr const char* kDispatcherComponent = "cua-actions-windows";

ActionResult dispatch(const std::string& action, const Json& params);

// The permission report: both permissions always granted on this platform.
ActionResult handle_check_permissions(const Json& params);

}  // namespace cua_actions::windows
