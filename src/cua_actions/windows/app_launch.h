#pragma once
// open_app: find or launch an application, wait for its window, place it on
// the chosen display, maximize it and bring it to the foreground.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cua_actions/action_result.h"
#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

inline constexpr int kWindowWaitRounds = 8;
inline constexpr std::uint32_t kWindowWaitIntervalMs = 400;
inline constexpr std::uint32_t kRestoreSettleMs = 80;
inline constexpr std::uint32_t kMaximizeSettleMs = 160;
inline constexpr std::uint32_t kStillMinimizedSettleMs = 50;
inline constexpr std::uint32_t kAltTapSettleMs = 10;
inline constexpr std::uint32_t kFocusSettleMs = 120;
inline constexpr int kFocusAttempts = 5;
inline constexpr std::int32_t kMinPlacedWidth = 320;
inline constexpr std::int32_t kMinPlacedHeight = 240;
inline constexpr double kUnknownSizeDisplayShare = 0.8;
inline constexpr std::int64_t kShellExecuteAccepted = 32;  // values above it mean success
inline constexpr std::uint32_t kFocusAttemptZOrderFlags = kSwpShowWindow | kSwpNoMove | kSwpNoSize;

struct WindowPlacement {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t cx = 0;
    std::int32_t cy = 0;
    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// A w x h window centred on the display, at least 320 x 240 and at most the
// display's size: 200x150 on 1920x1080 at 0,0 -> 320x240 at 800,420.
WindowPlacement win_place_window(const DisplayInfo& display, std::int64_t width,
                                 std::int64_t height);

// --- what the shell is handed ----------------------------------------------------------
enum class LaunchFileKind {
    full_path,      // "C:\x\app.exe", "\\server\share\app.exe"
    uri,            // "ms-settings:", "shell:AppsFolder\..."
    bare_name,      // "notepad", "calc.exe"
    relative_path,  // ".\app.exe", "bin\app.exe", "C:app.exe"
};
LaunchFileKind win_launch_file_kind(std::string_view file);
// Full path of a bare program name from the system folders (System32, System,
// the Windows folder), then the App Paths keys, then the absolute PATH
// folders, with the PATHEXT extensions; never the current directory nor this
// executable's folder. "notepad" -> "C:\Windows\System32\notepad.exe".
std::optional<std::string> win_find_program(std::string_view name);
// What to hand the shell for `file` (trimmed and unquoted to decide): full
// paths and URIs exactly as given, a bare name as its full path, nothing for a
// relative path or a bare name found nowhere.
std::optional<std::string> win_launchable_file(const std::string& file);

// ShellExecuteW "open" with SW_SHOWNORMAL; true when the shell accepted it.
bool win_shell_execute(const std::string& file, const std::optional<std::string>& parameters);

// The focus sequence: an Alt tap, then attempts that attach to the foreground and target
// threads, raise the window (SetForegroundWindow alone does not raise another process's
// window everywhere) and hand it the foreground. True once it is the foreground window.
bool win_bring_to_foreground(Handle window);

// Restore, place, maximize, focus, and report what the desktop shows afterwards.
ActionResult win_open_app_success(Handle window, const std::string& requested,
                                  const std::string& target_title, const Json& params);

ActionResult handle_open_app(const Json& params);

}  // namespace cua_actions::windows
