#include "cua_actions/windows/click_indicator.h"

#include <cstdio>
#include <mutex>

namespace cua_actions::windows {
namespace {

constexpr const char* kTag = "[CUA-indicator-win] ";

std::mutex g_class_mutex;
bool g_class_done = false;

void write_failure(const std::string& what) {
    platform().write_stderr_line(kTag + what);
}

}  // namespace

std::string system_error_text(std::uint32_t code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    const auto message = platform().format_system_message(code);
    if (!message || message->empty()) {
        return hex;
    }
    return *message + " (" + hex + ")";
}

void ensure_click_indicator_class() {
    // Concurrent first indicators register once; a failed registration is
    // not retried either.
    const std::lock_guard guard(g_class_mutex);
    if (g_class_done) {
        return;
    }
    g_class_done = true;
    Platform& os = platform();
    Handle instance = 0;
    if (const auto module = os.get_module_handle()) {
        instance = *module;
    } else {
        write_failure("GetModuleHandleW failed, fallback to null instance: " +
                      system_error_text(os.get_last_error()));
    }
    if (os.register_overlay_class(kClickIndicatorClassName, instance) == 0) {
        const std::uint32_t code = os.get_last_error();
        if (code != kErrorClassAlreadyExists) {
            write_failure("RegisterClassW failed: " + std::to_string(code));
        }
    }
}

void reset_click_indicator_class_for_testing() {
    const std::lock_guard guard(g_class_mutex);
    g_class_done = false;
}

void run_click_indicator(std::int32_t x, std::int32_t y) {
    ensure_click_indicator_class();
    Platform& os = platform();
    CreateWindowParams window_params;
    window_params.ex_style = kClickIndicatorExStyle;
    window_params.class_name = kClickIndicatorClassName;
    window_params.style = kClickIndicatorStyle;
    window_params.x = x;
    window_params.y = y;
    window_params.width = kClickIndicatorSize;
    window_params.height = kClickIndicatorSize;
    if (const auto module = os.get_module_handle()) {
        window_params.instance = *module;
    } else {
        write_failure("GetModuleHandleW failed during CreateWindowExW: " +
                      system_error_text(os.get_last_error()));
    }
    const Handle window = os.create_window_ex(window_params);
    if (window == 0) {
        write_failure("CreateWindowExW failed: " + system_error_text(os.get_last_error()));
        return;
    }
    if (!os.set_layered_window_attributes(window, kClickIndicatorKeyColor, kClickIndicatorAlpha,
                                          kLwaColorKey)) {
        write_failure("SetLayeredWindowAttributes failed: " +
                      system_error_text(os.get_last_error()));
    }
    // No message loop on this thread: the update paints the ring once.
    os.show_window(window, kSwShowNoActivate);
    os.update_window(window);
    os.sleep_ms(kClickIndicatorLifetimeMs);
    os.destroy_window(window);  // a failure changes nothing: the thread ends anyway
}

void show_click_indicator(std::int32_t x, std::int32_t y) {
    Platform& os = platform();
    if (!os.start_detached_thread([x, y] { run_click_indicator(x, y); })) {
        // The click goes on without its ring.
        write_failure("CreateThread failed: " + system_error_text(os.get_last_error()));
    }
}

}  // namespace cua_actions::windows
