#pragma once
// The "screenshot" action: captures the selected display through the platform's
// GDI calls, refuses the secure desktop's black frame, and returns the image as
// a PNG data URL with its geometry.

#include <cstdint>
#include <optional>
#include <vector>

#include "cua_actions/action_result.h"
#include "cua_actions/windows/display_input.h"

namespace cua_actions::windows {

inline constexpr char kSecureDesktopCode[] = "windows_secure_desktop_blocked";
inline constexpr char kSecureDesktopMessage[] =
    "Windows secure desktop is active (for example a UAC confirmation dialog). Screenshot and "
    "input are blocked by the OS. Please confirm or dismiss the system dialog manually, then "
    "retry.";

// Copies the display's rectangle of the screen into a zero-filled BGRX buffer
// (rows top-down). Nothing when the screen device context is unavailable. A
// failed copy or read leaves the buffer black.
std::optional<std::vector<std::uint8_t>> capture_display(const DisplayInfo& display);

// {"data":{"code":"windows_secure_desktop_blocked"},"error":...,"ok":false}
ActionResult secure_desktop_result();

ActionResult handle_screenshot(const Json& params);

}  // namespace cua_actions::windows
