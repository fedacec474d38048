// Simulated foreground window and input-method state.
#include "support/sim_desktop.h"

namespace sim {

namespace {
// Input contexts and default IME windows are derived from the window handle.
constexpr Handle kContextBit = Handle{1} << 40;
constexpr Handle kDefaultImeBit = Handle{1} << 41;
}  // namespace

Handle SimDesktop::get_foreground_window() {
    auto guard = lock();
    return foreground_window;
}

Handle SimDesktop::imm_get_context(Handle window) {
    auto guard = lock();
    const auto found = ime_windows.find(window);
    // Only our own process's windows hand out their input context.
    if (found == ime_windows.end() || !found->second.own_process) {
        return 0;
    }
    ++ime_contexts_held;
    return window | kContextBit;
}

bool SimDesktop::imm_get_open_status(Handle context) {
    auto guard = lock();
    const auto found = ime_windows.find(context & ~kContextBit);
    return (context & kContextBit) != 0 && found != ime_windows.end() && found->second.open;
}

bool SimDesktop::imm_release_context(Handle window, Handle context) {
    auto guard = lock();
    if (context != (window | kContextBit) || ime_contexts_held == 0) {
        return false;
    }
    --ime_contexts_held;
    return true;
}

std::optional<cua_actions::windows::GuiThreadInfo> SimDesktop::get_gui_thread_info(
    std::uint32_t thread_id) {
    auto guard = lock();
    if (thread_id != 0) {
        return std::nullopt;  // only the foreground thread is simulated
    }
    return foreground_thread_info;
}

Handle SimDesktop::imm_get_default_ime_wnd(Handle window) {
    auto guard = lock();
    const auto found = ime_windows.find(window);
    if (found == ime_windows.end() || !found->second.has_default_ime_window) {
        return 0;
    }
    return window | kDefaultImeBit;
}

std::optional<std::uint64_t> SimDesktop::send_message_timeout(Handle window, std::uint32_t message,
                                                              std::uint64_t wparam,
                                                              std::int64_t /*lparam*/,
                                                              std::uint32_t /*flags*/,
                                                              std::uint32_t timeout_ms) {
    auto guard = lock();
    if (const auto answer = answer_null_message(window, message, timeout_ms)) {
        return *answer;  // the window tree of sim_structure.cpp
    }
    if ((window & kDefaultImeBit) == 0) {
        return std::nullopt;
    }
    const auto found = ime_windows.find(window & ~kDefaultImeBit);
    if (found == ime_windows.end()) {
        return std::nullopt;
    }
    ime_queries.push_back(window);
    if (found->second.hung) {
        now_ns += static_cast<std::uint64_t>(timeout_ms) * 1'000'000;  // waited out the limit
        return std::nullopt;
    }
    if (message == cua_actions::windows::kWmImeControl &&
        wparam == cua_actions::windows::kImcGetOpenStatus) {
        return found->second.open ? 1 : 0;
    }
    return 0;
}

}  // namespace sim
