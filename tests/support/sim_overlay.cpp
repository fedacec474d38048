// Simulated threads and overlay windows.
#include "support/sim_desktop.h"

namespace sim {

namespace {
constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;
constexpr std::uint32_t kErrorCannotFindWndClass = 1407;
}  // namespace

void SimDesktop::run_pending_threads() {
    std::vector<std::function<void()>> bodies;
    {
        auto guard = lock();
        bodies.swap(pending_threads);
    }
    for (auto& body : bodies) {
        body();
    }
}

bool SimDesktop::start_detached_thread(std::function<void()> body) {
    auto guard = lock();
    if (overlay_fail.start_thread) {
        last_error_ = *overlay_fail.start_thread;
        return false;
    }
    ++threads_started;
    threads_started_after_events.push_back(events.size());
    pending_threads.push_back(std::move(body));
    return true;
}

std::optional<Handle> SimDesktop::get_module_handle() {
    auto guard = lock();
    if (overlay_fail.get_module_handle) {
        last_error_ = *overlay_fail.get_module_handle;
        return std::nullopt;
    }
    return module_handle;
}

std::optional<std::string> SimDesktop::format_system_message(std::uint32_t code) {
    switch (code) {
        case 5:
            return "Access is denied.";
        case 8:
            return "Not enough memory resources are available to process this command.";
        case kErrorInvalidWindowHandle:
            return "Invalid window handle.";
        case kErrorCannotFindWndClass:
            return "Cannot find window class.";
        case cua_actions::windows::kErrorClassAlreadyExists:
            return "Class already exists.";
        default:
            return std::nullopt;
    }
}

std::uint16_t SimDesktop::register_overlay_class(const std::string& class_name, Handle instance) {
    auto guard = lock();
    ++register_class_calls;
    if (overlay_fail.register_class) {
        last_error_ = *overlay_fail.register_class;
        return 0;
    }
    if (registered_classes.count(class_name) != 0) {
        last_error_ = cua_actions::windows::kErrorClassAlreadyExists;
        return 0;
    }
    registered_classes[class_name] = instance;
    return static_cast<std::uint16_t>(0xC000 + registered_classes.size());
}

Handle SimDesktop::create_window_ex(const cua_actions::windows::CreateWindowParams& window_params) {
    auto guard = lock();
    if (overlay_fail.create_window) {
        last_error_ = *overlay_fail.create_window;
        return 0;
    }
    if (registered_classes.count(window_params.class_name) == 0) {
        last_error_ = kErrorCannotFindWndClass;
        return 0;
    }
    SimOverlayWindow window;
    window.handle = next_input_handle++;
    window.window_params = window_params;
    window.created_ms = now_ms();
    overlay_windows.push_back(window);
    return window.handle;
}

namespace {
SimOverlayWindow* live_window(std::vector<SimOverlayWindow>& windows, Handle handle) {
    for (SimOverlayWindow& window : windows) {
        if (window.handle == handle && !window.destroyed_ms) {
            return &window;
        }
    }
    return nullptr;
}
}  // namespace

bool SimDesktop::set_layered_window_attributes(Handle window, std::uint32_t color_key,
                                               std::uint8_t alpha, std::uint32_t flags) {
    auto guard = lock();
    SimOverlayWindow* found = live_window(overlay_windows, window);
    if (found == nullptr) {
        last_error_ = kErrorInvalidWindowHandle;
        return false;
    }
    if (overlay_fail.set_layered) {
        last_error_ = *overlay_fail.set_layered;
        return false;
    }
    found->layered = true;
    found->color_key = color_key;
    found->alpha = alpha;
    found->layered_flags = flags;
    return true;
}

bool SimDesktop::show_window(Handle window, int command) {
    auto guard = lock();
    if (SimAppWindow* app = app_window(window)) {  // application windows: sim_apps.cpp
        return show_app_window(*app, command);
    }
    SimOverlayWindow* found = live_window(overlay_windows, window);
    if (found == nullptr) {
        last_error_ = kErrorInvalidWindowHandle;
        return false;
    }
    const bool was_visible = found->shown_ms.has_value();
    found->show_command = command;
    if (command != 0) {  // SW_HIDE
        found->shown_ms = now_ms();
    }
    return was_visible;
}

bool SimDesktop::update_window(Handle window) {
    auto guard = lock();
    SimOverlayWindow* found = live_window(overlay_windows, window);
    if (found == nullptr) {
        last_error_ = kErrorInvalidWindowHandle;
        return false;
    }
    if (found->shown_ms) {
        ++found->paints;
    }
    return true;
}

bool SimDesktop::destroy_window(Handle window) {
    auto guard = lock();
    SimOverlayWindow* found = live_window(overlay_windows, window);
    if (found == nullptr || overlay_fail.destroy_window) {
        last_error_ = kErrorInvalidWindowHandle;
        return false;
    }
    found->destroyed_ms = now_ms();
    return true;
}

}  // namespace sim
