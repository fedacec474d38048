#pragma once
// ui_elements: the controls of one window, walked through Active Accessibility
// (and the window's child windows) on a thread of its own, bounded in count, depth
// and time, with windows whose thread does not answer skipped. Each element keeps
// its path, so a later action can find it again and check it is still the same.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "cua_actions/action_result.h"
#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

inline constexpr std::size_t kDefaultMaxElements = 500;
inline constexpr std::size_t kMaxElementsLimit = 5000;
inline constexpr int kDefaultMaxDepth = 25;
inline constexpr int kMaxDepthLimit = 100;
inline constexpr std::uint32_t kDefaultWalkTimeLimitMs = 2000;
inline constexpr std::uint32_t kMaxWalkTimeLimitMs = 30000;
// How long a window's thread may take to answer WM_NULL before it counts as hung.
inline constexpr std::uint32_t kHungWindowTimeoutMs = 200;
// How long past the time limit the executor waits for a walk stuck inside one call.
inline constexpr std::uint32_t kWalkStuckGraceMs = 1000;
inline constexpr std::size_t kElementTextMaxChars = 200;  // names and values are cut here
inline constexpr int kControlTextUnits = 1024;

// Active Accessibility state bits (STATE_SYSTEM_*).
inline constexpr std::uint32_t kStateUnavailable = 0x1;
inline constexpr std::uint32_t kStateSelected = 0x2;
inline constexpr std::uint32_t kStateFocused = 0x4;
inline constexpr std::uint32_t kStateChecked = 0x10;
inline constexpr std::uint32_t kStateMixed = 0x20;
inline constexpr std::uint32_t kStateReadOnly = 0x40;
inline constexpr std::uint32_t kStateInvisible = 0x8000;
inline constexpr std::uint32_t kStateOffscreen = 0x10000;

// One step from an element to a child: the index-th child window (GetWindow order),
// the index-th entry of AccessibleChildren, or (`item`) the index-th entry of a list box.
struct PathStep {
    bool window = false;
    std::uint32_t index = 0;
    bool item = false;
    friend bool operator==(const PathStep&, const PathStep&) = default;
};
using ElementPath = std::vector<PathStep>;

// "w0.a3.i7" <-> {window 0, accessible child 3, list-box item 7}; the window itself is "".
std::string format_element_path(const ElementPath& path);
std::optional<ElementPath> parse_element_path(std::string_view text);

// The readable name of a ROLE_SYSTEM_* value: 43 -> "button", 42 -> "edit".
std::string role_name(std::uint32_t role);
// A role for a window whose accessible object answers only "client" (or nothing),
// from its class and style: "Button" with BS_AUTOCHECKBOX -> "check_box".
std::optional<std::string> role_from_window_class(std::string_view class_name, std::uint32_t style);
bool is_interactive_role(std::string_view role);
// Cuts to kElementTextMaxChars code points, marking the cut with "…".
std::string cut_element_text(const std::string& text);

struct UiElement {
    int id = 0;
    int parent = 0;  // 0: none (the window itself)
    ElementPath path;
    std::string role;
    std::string name;
    std::string value;
    std::uint32_t state = 0;
    Rect rect;
    Handle window = 0;  // the window (top-level or child) it belongs to
};

// A list-box entry as an element: role "list_item", "selected" when it is.
UiElement element_from_list_item(const ListBoxItem& item, Handle window);

struct WalkLimits {
    std::size_t max_elements = kDefaultMaxElements;
    int max_depth = kDefaultMaxDepth;
    std::uint32_t time_limit_ms = kDefaultWalkTimeLimitMs;
    bool interactive_only = false;
    bool include_offscreen = false;
};

struct WalkResult {
    std::vector<UiElement> elements;
    bool truncated = false;
    std::vector<std::string> notes;  // windows skipped and why
};

// Reads the limits of params ("max_elements", "max_depth", "time_limit_ms",
// "interactive_only", "include_offscreen"); a failure for a value out of range.
zelto::Result<WalkLimits> read_walk_limits(const Json& params);

// The walk itself, on the calling thread (COM initialized by the caller): stops at the
// element cap, the depth limit or the time limit on the platform's clock.
WalkResult walk_ui_elements(Handle window, const WalkLimits& limits);

// The walk on a thread of its own. Waits at most the time limit plus a grace period in
// real time; a walk stuck inside one call is left behind and what it found so far
// comes back truncated.
WalkResult walk_ui_elements_bounded(Handle window, const WalkLimits& limits);

// What `act` sees of an element found again by its path: the accessible object
// (owned by the finder) and child id, and the element as it reads now.
struct FoundElement {
    Handle object = 0;
    std::int32_t child = 0;
    UiElement element;
};
// Follows `path` from `window` on a thread of its own (bounded like a walk) and runs
// `act` there with what it found; a failure when a step is missing or a window on the
// way does not answer. `act` may outlive the call (a thread stuck in a call is left
// behind): it must own what it captures.
zelto::Status with_element_at_path(Handle window, const ElementPath& path,
                                   const std::function<void(const FoundElement&)>& act);

// The element JSON of the action's result; `origin` and `extent` are the display's,
// for the centre as a display position (thousandths).
Json element_json(const UiElement& element, std::int32_t origin_x, std::int32_t origin_y,
                  std::int32_t width, std::int32_t height);

ActionResult handle_ui_elements(const Json& params);

}  // namespace cua_actions::windows
