// More buttons, the horizontal wheel and keyboard layouts: the double-click time
// and the layout look-ups the key actions need.
#include <windows.h>

#include "cua_actions/windows/win32/win32_handles.h"
#include "cua_actions/windows/win32/win32_platform.h"

namespace cua_actions::windows {

std::uint32_t Win32Platform::get_double_click_time() {
    return ::GetDoubleClickTime();
}

Handle Win32Platform::get_keyboard_layout(std::uint32_t thread_id) {
    return from_pointer(::GetKeyboardLayout(thread_id));
}

std::int16_t Win32Platform::vk_key_scan_ex(char16_t character, Handle layout) {
    return ::VkKeyScanExW(static_cast<WCHAR>(character), to_native<HKL>(layout));
}

}  // namespace cua_actions::windows
