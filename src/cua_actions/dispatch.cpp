#include "cua_actions/dispatch.h"

#include "cua_actions/windows/dispatcher.h"

namespace cua_actions {

ActionResult dispatch(const std::string& action, const Json& params) {
    return windows::dispatch(action, params);
}

}  // namespace cua_actions
