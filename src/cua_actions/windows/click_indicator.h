#pragma once
// The click indicator: a red ring flashed around a click point for one second
// in a click-through, non-activating overlay window of its own thread.

#include <cstdint>
#include <string>

#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

inline constexpr const char* kClickIndicatorClassName = "ZeltoClickIndicatorOverlay";
inline constexpr std::int32_t kClickIndicatorSize = 64;
inline constexpr std::int32_t kClickIndicatorHalf = kClickIndicatorSize / 2;
inline constexpr std::uint32_t kClickIndicatorStyle = kWsPopup;  // no border, no caption
// 0x080800A8: stays on top, lets clicks through, no taskbar button, colour
// keyed, never takes the focus.
inline constexpr std::uint32_t kClickIndicatorExStyle =
    kWsExTopmost | kWsExTransparent | kWsExToolWindow | kWsExLayered | kWsExNoActivate;
inline constexpr std::uint32_t kClickIndicatorLifetimeMs = 1000;

// Painting, shared with the window procedure of the Win32 side. Colours are
// COLORREF values (0x00BBGGRR).
inline constexpr std::uint32_t kClickIndicatorKeyColor = 0x010101;  // drawn fully transparent
inline constexpr std::uint8_t kClickIndicatorAlpha = 255;
inline constexpr std::uint32_t kClickIndicatorRingColor = 0x0000FF;  // red
inline constexpr int kClickIndicatorRingPenWidth = 2;
inline constexpr Rect kClickIndicatorRingBox{8, 8, 56, 56};  // a 48-pixel circle, centred

// Registers the window class once per process; later calls return at once.
void ensure_click_indicator_class();
// Lets tests run the first registration again.
void reset_click_indicator_class_for_testing();

// Starts the detached indicator thread for a window whose top-left corner is
// (x, y) and returns at once. Every failure is only a diagnostic line.
void show_click_indicator(std::int32_t x, std::int32_t y);

// The body of the indicator thread.
void run_click_indicator(std::int32_t x, std::int32_t y);

// "<system message> (0x0000057F)", or only the code when the system has no
// message for it.
std::string system_error_text(std::uint32_t code);

}  // namespace cua_actions::windows
