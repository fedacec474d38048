// open_app: existing window, resolution and launch, the wait for the window,
// placement and the focus sequence.
#include "cua_actions/windows/app_launch.h"

#include <algorithm>
#include <limits>

#include "cua_actions/windows/app_index.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

std::int32_t saturate(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t scaled_down(std::int32_t extent) {
    return saturate(static_cast<std::int64_t>(extent * kUnknownSizeDisplayShare));
}

std::int32_t clamp_extent(std::int64_t size, std::int32_t minimum, std::int32_t display_extent) {
    if (size < minimum) {
        return minimum;
    }
    return saturate(std::min<std::int64_t>(size, std::max(display_extent, minimum)));
}

std::int32_t centred_origin(std::int32_t origin, std::int32_t display_extent, std::int32_t size) {
    const std::int64_t room = std::int64_t{display_extent} - size;
    return room > 0 ? saturate(origin + room / 2) : origin;
}

// Attaches this thread's input to another thread for one focus attempt and
// detaches when it goes out of scope; declared in attach order, so detaching
// runs in reverse.
class ScopedThreadAttach {
  public:
    ScopedThreadAttach(std::uint32_t self, std::uint32_t other)
        : self_(self), other_(other != 0 && other != self ? other : 0) {
        if (other_ != 0) {
            platform().attach_thread_input(self_, other_, true);
        }
    }
    ~ScopedThreadAttach() {
        if (other_ != 0) {
            platform().attach_thread_input(self_, other_, false);
        }
    }
    ScopedThreadAttach(const ScopedThreadAttach&) = delete;
    ScopedThreadAttach& operator=(const ScopedThreadAttach&) = delete;

  private:
    std::uint32_t self_;
    std::uint32_t other_;
};

std::uint32_t foreground_thread() {
    const Handle foreground = platform().get_foreground_window();
    return foreground != 0 ? platform().get_window_thread_process_id(foreground).thread_id : 0;
}

DisplayInfo target_display(const Json& params) {
    const std::string* display_id = string_param(params, "display_id");
    if (display_id != nullptr && !text::trim(*display_id).empty()) {
        return selected_display(params);
    }
    return default_display(enumerate_displays());
}

void tap_alt() {
    // Windows lets a process take the foreground right after it sent input.
    const InputRecord press = InputRecord::key_event(kVkMenuKey, 0, 0);
    const InputRecord release = InputRecord::key_event(kVkMenuKey, 0, kKeyEventKeyUp);
    platform().send_input({&press, 1});
    platform().sleep_ms(kAltTapSettleMs);
    platform().send_input({&release, 1});
    platform().sleep_ms(kAltTapSettleMs);
}

bool try_focus(Handle window, std::uint32_t self, std::uint32_t target_thread,
               std::uint32_t& foreground) {
    {
        const ScopedThreadAttach to_foreground(self, foreground);
        const ScopedThreadAttach to_target(self, target_thread);
        platform().bring_window_to_top(window);
        platform().set_window_pos(window, 0, 0, 0, 0, 0, kFocusAttemptZOrderFlags);
        platform().set_foreground_window(window);
        platform().set_focus(window);
    }
    platform().sleep_ms(kFocusSettleMs);
    if (platform().get_foreground_window() == window) {
        return true;
    }
    foreground = foreground_thread();
    return false;
}

// Hands the shell only files that cannot name a program planted in the
// current directory or beside this executable.
bool launch_program(const std::string& file, const std::optional<std::string>& parameters) {
    const std::optional<std::string> launchable = win_launchable_file(file);
    return launchable && win_shell_execute(*launchable, parameters);
}

}  // namespace

WindowPlacement win_place_window(const DisplayInfo& display, std::int64_t width,
                                 std::int64_t height) {
    WindowPlacement placement;
    placement.cx = clamp_extent(width, kMinPlacedWidth, display.width);
    placement.cy = clamp_extent(height, kMinPlacedHeight, display.height);
    placement.x = centred_origin(display.x, display.width, placement.cx);
    placement.y = centred_origin(display.y, display.height, placement.cy);
    return placement;
}

bool win_shell_execute(const std::string& file, const std::optional<std::string>& parameters) {
    return platform().shell_execute(0, "open", file, parameters, std::nullopt, kSwShowNormal) >
           kShellExecuteAccepted;
}

bool win_bring_to_foreground(Handle window) {
    Platform& os = platform();
    const std::uint32_t target_thread = os.get_window_thread_process_id(window).thread_id;
    std::uint32_t foreground = foreground_thread();
    const std::uint32_t self = os.get_current_thread_id();

    tap_alt();

    bool focused = false;
    for (int attempt = 0; attempt < kFocusAttempts && !focused; ++attempt) {
        focused = try_focus(window, self, target_thread, foreground);
    }
    if (!focused) {
        {
            const ScopedThreadAttach to_foreground(self, foreground);
            os.set_foreground_window(window);
        }
        os.sleep_ms(kFocusSettleMs);
        focused = os.get_foreground_window() == window;
    }
    return focused;
}

ActionResult win_open_app_success(Handle window, const std::string& requested,
                                  const std::string& target_title, const Json& params) {
    Platform& os = platform();
    if (os.is_iconic(window) || os.is_zoomed(window)) {
        os.show_window(window, kSwRestore);
        os.sleep_ms(kRestoreSettleMs);
    }

    const DisplayInfo display = target_display(params);
    std::int64_t width = scaled_down(display.width);
    std::int64_t height = scaled_down(display.height);
    if (const std::optional<Rect> rect = os.get_window_rect(window)) {
        width = std::int64_t{rect->right} - rect->left;
        height = std::int64_t{rect->bottom} - rect->top;
    }
    // Centred on the chosen display first, so the maximize acts on that display.
    const WindowPlacement placement = win_place_window(display, width, height);
    os.set_window_pos(window, 0, placement.x, placement.y, placement.cx, placement.cy,
                      kSwpNoZOrder);

    os.show_window(window, kSwShowMaximized);
    os.sleep_ms(kMaximizeSettleMs);
    if (os.is_iconic(window)) {
        os.show_window(window, kSwRestore);
        os.sleep_ms(kStillMinimizedSettleMs);
    }
    os.show_window(window, kSwShow);

    const bool focused = win_bring_to_foreground(window);

    const std::uint32_t pid = os.get_window_thread_process_id(window).process_id;
    const std::string window_title = win_window_title(window);
    const Handle foreground_window = os.get_foreground_window();
    const std::string foreground_title =
        foreground_window != 0 ? win_window_title(foreground_window) : std::string();

    Json data{
        {"app_name", target_title}, {"focused", focused}, {"foreground_title", foreground_title},
        {"maximized", true},        {"pid", pid},         {"target_title", window_title}};
    if (focused) {
        return ok_result(std::move(data));
    }
    return error_result(
        "Application '" + requested + "' opened but did not receive foreground focus",
        std::move(data));
}

ActionResult handle_open_app(const Json& params) {
    const std::string* app_name = string_param(params, "app_name");
    if (app_name == nullptr) {
        return error_result("Missing app_name");
    }
    const std::string& requested = *app_name;

    if (const auto existing = win_find_window_any(win_window_search_terms(requested, nullptr))) {
        return win_open_app_success(*existing, requested, requested, params);
    }

    std::optional<WinAppEntry> resolved = win_resolve_app(requested, win_get_app_index(false));
    if (!resolved) {
        // What was installed since the cached build may be what was asked for.
        resolved = win_resolve_app(requested, win_get_app_index(true));
    }
    const std::string target_title = resolved ? resolved->name : requested;
    const std::vector<std::string> terms =
        win_window_search_terms(requested, resolved ? &*resolved : nullptr);

    bool launched = false;
    if (!resolved) {
        launched = launch_program(requested, std::nullopt);
    } else {
        if (!resolved->lnk_path.empty()) {
            launched = win_shell_execute(resolved->lnk_path, std::nullopt);
        }
        if (!launched && !resolved->target.empty()) {
            std::optional<std::string> parameters;
            if (!text::trim(resolved->args).empty()) {
                parameters = resolved->args;
            }
            launched = launch_program(resolved->target, parameters);
        }
    }
    if (!launched) {
        return error_result("Application '" + requested + "' not found or cannot be launched");
    }

    std::optional<Handle> window;
    for (int round = 0; round < kWindowWaitRounds && !window; ++round) {
        platform().sleep_ms(kWindowWaitIntervalMs);
        window = win_find_window_any(terms);
    }
    if (!window) {
        window = win_find_window_any(terms);
    }
    if (!window) {
        return error_result("Application '" + target_title +
                            "' started but no visible window was found");
    }
    return win_open_app_success(*window, requested, target_title, params);
}

}  // namespace cua_actions::windows
