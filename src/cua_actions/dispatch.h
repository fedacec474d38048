#pragma once

#include <string>

#include "cua_actions/action_result.h"

namespace cua_actions {

// Portable entry of the action layer: forwards to the Windows implementation.
ActionResult dispatch(const std::string& action, const Json& params);

}  // namespace cua_actions
