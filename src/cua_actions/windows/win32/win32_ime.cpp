// Win32 foreground window and input-method queries.
#include <windows.h>
// imm.h needs the types of windows.h first.
#include <imm.h>

#include "cua_actions/windows/win32/win32_handles.h"
#include "cua_actions/windows/win32/win32_platform.h"

namespace cua_actions::windows {
Handle Win32Platform::get_foreground_window() {
    return from_pointer(::GetForegroundWindow());
}

Handle Win32Platform::imm_get_context(Handle window) {
    return from_pointer(::ImmGetContext(to_window(window)));
}

bool Win32Platform::imm_get_open_status(Handle context) {
    return ::ImmGetOpenStatus(to_native<HIMC>(context)) != FALSE;
}

bool Win32Platform::imm_release_context(Handle window, Handle context) {
    return ::ImmReleaseContext(to_window(window), to_native<HIMC>(context)) != FALSE;
}

std::optional<GuiThreadInfo> Win32Platform::get_gui_thread_info(std::uint32_t thread_id) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(thread_id, &info)) {
        return std::nullopt;
    }
    return GuiThreadInfo{from_pointer(info.hwndActive), from_pointer(info.hwndFocus)};
}

Handle Win32Platform::imm_get_default_ime_wnd(Handle window) {
    return from_pointer(::ImmGetDefaultIMEWnd(to_window(window)));
}

std::optional<std::uint64_t> Win32Platform::send_message_timeout(
    Handle window, std::uint32_t message, std::uint64_t wparam, std::int64_t lparam,
    std::uint32_t flags, std::uint32_t timeout_ms) {
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(to_window(window), message, static_cast<WPARAM>(wparam),
                              static_cast<LPARAM>(lparam), flags, timeout_ms, &result) == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(result);
}

}  // namespace cua_actions::windows
