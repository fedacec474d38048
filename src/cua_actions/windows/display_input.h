#pragma once
// Displays, display selection, request-position mapping and the one-time DPI step.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cua_actions/action_result.h"
#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

// One display in physical pixels of the virtual screen.
struct DisplayInfo {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool primary = false;
    friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
};

// A global physical point and the report of how it was reached.
struct ClickPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    Json mapping;
};

// Truncates toward zero, saturating at the 32-bit limits (NaN gives 0).
std::int32_t truncate_saturate32(double value);

// Makes the process DPI-aware, per monitor where the system offers it, else
// for the system DPI; only the first call in a process does anything.
void ensure_dpi_awareness();
// Lets tests run the first-call path again.
void reset_dpi_awareness_for_testing();

// Per-monitor step of the enumeration: appends the monitor unless its
// information cannot be read. Always asks to continue.
bool enum_display_proc(Handle monitor, std::vector<DisplayInfo>& displays);
// All displays, never empty, sorted by x then y (stable).
std::vector<DisplayInfo> enumerate_displays();

// Pure pieces of the selection, exposed for tests.
DisplayInfo default_display(const std::vector<DisplayInfo>& displays);
std::string format_display_id(const DisplayInfo& display);
// Parses "X,Y,W,H" with each part trimmed; nothing unless exactly four signed
// 32-bit decimal integers.
std::optional<std::vector<std::int32_t>> parse_display_id(const std::string& id);

// The display named by params' "display_id", else the default display.
DisplayInfo selected_display(const Json& params);

// "list_displays": every display in the order above, with its display_id and,
// where the system reports its effective DPI, its scale (DPI / 96). Params are
// ignored.
ActionResult handle_list_displays(const Json& params);

// Maps a request position (at least two entries) to a global physical point.
ClickPoint to_physical_click_point(std::span<const double> position, const Json& params);

}  // namespace cua_actions::windows
