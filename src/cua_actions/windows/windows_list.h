#pragma once
// list_windows and focus_window: the visible top-level windows front to back,
// and bringing one of them forward (or moving, sizing, minimizing, closing it).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "cua_actions/action_result.h"
#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

inline constexpr std::uint32_t kCloseWaitMs = 100;  // between looks for a closed window
inline constexpr int kCloseWaitRounds = 20;

// The visible top-level windows with a non-empty rectangle, front to back.
std::vector<Handle> win_visible_top_windows();

// One window as list_windows reports it: "id", "title", "class", "pid",
// "process_name", "rect" [left, top, right, bottom], "display_id", "minimized",
// "maximized", "foreground".
Json win_window_json(Handle window, const std::vector<DisplayInfo>& displays);

// The display holding the rectangle's centre, else the first it overlaps, else the
// default display.
DisplayInfo win_display_of_rect(const Rect& rect, const std::vector<DisplayInfo>& displays);

// params' "window_id" as a live window: nothing when absent, a failure when it
// is not a positive integer or names no window.
zelto::Result<std::optional<Handle>> read_window_id(const Json& params);

// The first visible top-level window (front to back) whose title contains
// `needle`, compared in lower case.
std::optional<Handle> win_find_window_by_title(const std::string& needle);

ActionResult handle_list_windows(const Json& params);
ActionResult handle_focus_window(const Json& params);

}  // namespace cua_actions::windows
