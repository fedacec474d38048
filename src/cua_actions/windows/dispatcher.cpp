#include "cua_actions/windows/dispatcher.h"

#include <array>
#include <string_view>

#include "cua_actions/timing.h"
#include "cua_actions/windows/app_launch.h"
#include "cua_actions/windows/app_powershell.h"
#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/screenshot_capture.h"
#include "cua_actions/windows/screenshot_click.h"
#include "cua_actions/windows/typing_pointer.h"
#include "cua_actions/windows/ui_element_actions.h"
#include "cua_actions/windows/ui_elements.h"
#include "cua_actions/windows/windows_list.h"

namespace cua_actions::windows {
namespace {

using Handler = ActionResult (*)(const Json& params);

struct ActionEntry {
    std::string_view name;
    Handler handler;
};

// The complete action table; names match byte for byte, no aliases.
constexpr std::array<ActionEntry, 20> kActions{{
    {"screenshot", handle_screenshot},
    {"click", [](const Json& params) { return handle_click(params, false); }},
    {"right_click", [](const Json& params) { return handle_click(params, true); }},
    {"type", handle_type},
    {"press", handle_press},
    {"press_combination", handle_press_combination},
    {"scroll", handle_scroll},
    {"drag", handle_drag},
    {"move", handle_move},
    {"open_app", handle_open_app},
    {"run_applescript", handle_powershell},  // served by the PowerShell handler
    {"run_powershell", handle_powershell},
    {"check_permissions", handle_check_permissions},
    {"list_displays", handle_list_displays},
    {"mouse_down", [](const Json& params) { return handle_mouse_button(params, false); }},
    {"mouse_up", [](const Json& params) { return handle_mouse_button(params, true); }},
    {"key_down", [](const Json& params) { return handle_key_transition(params, false); }},
    {"key_up", [](const Json& params) { return handle_key_transition(params, true); }},
    {"hold_key", handle_hold_key},
    {"cursor_position", handle_cursor_position},
}};

// --- windows and their controls as structure ---
constexpr std::array<ActionEntry, 4> kStructureActions{{
    {"list_windows", handle_list_windows},
    {"focus_window", handle_focus_window},
    {"ui_elements", handle_ui_elements},
    {"set_value", handle_set_value},
}};

ActionResult run_action(const std::string& action, const Json& params) {
    for (const ActionEntry& entry : kActions) {
        if (entry.name == action) {
            return entry.handler(params);
        }
    }
    for (const ActionEntry& entry : kStructureActions) {
        if (entry.name == action) {
            return entry.handler(params);
        }
    }
    return error_result("Unknown CUA action: " + action);
}

// Handlers report failures as values; anything thrown past one (a library or platform
// surprise) still becomes one failure line instead of a process that ends without an answer.
ActionResult run_action_guarded(const std::string& action, const Json& params) {
    try {
        return run_action(action, params);
    } catch (...) {
        return error_result("Action " + action + " failed with an internal error");
    }
}

}  // namespace

ActionResult handle_check_permissions(const Json& /*params*/) {
    return ok_result(Json{{"accessibility", true}, {"screen_recording", true}});
}

ActionResult dispatch(const std::string& action, const Json& params) {
    ensure_dpi_awareness();
    // Taken after the DPI step so the first request does not pay for it.
    const MonotonicInstant started = platform().monotonic_now();
    ActionResult result = run_action_guarded(action, params);
    const MonotonicInstant elapsed = platform().monotonic_now() - started;
    log_native_action_timing(kDispatcherComponent, action, params, elapsed,
                             platform().get_env(kVerboseLogVariable), result);
    return result;
}

}  // namespace cua_actions::windows
