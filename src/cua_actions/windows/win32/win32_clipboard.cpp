// Win32 clipboard and global memory: each call as the system makes it.
#include <windows.h>

#include "cua_actions/windows/win32/win32_handles.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
bool Win32Platform::open_clipboard(Handle owner) {
    return ::OpenClipboard(to_window(owner)) != FALSE;
}

bool Win32Platform::close_clipboard() {
    return ::CloseClipboard() != FALSE;
}

bool Win32Platform::empty_clipboard() {
    return ::EmptyClipboard() != FALSE;
}

std::uint32_t Win32Platform::enum_clipboard_formats(std::uint32_t format) {
    return ::EnumClipboardFormats(format);
}

Handle Win32Platform::get_clipboard_data(std::uint32_t format) {
    return from_pointer(::GetClipboardData(format));
}

Handle Win32Platform::set_clipboard_data(std::uint32_t format, Handle memory) {
    return from_pointer(::SetClipboardData(format, to_native<HGLOBAL>(memory)));
}

std::uint32_t Win32Platform::register_clipboard_format(const std::string& name) {
    const std::u16string wide_name = text::utf8_to_utf16(name);
    return ::RegisterClipboardFormatW(wide(wide_name));
}

Handle Win32Platform::global_alloc(std::uint32_t flags, std::size_t bytes) {
    return from_pointer(::GlobalAlloc(flags, bytes));
}

std::size_t Win32Platform::global_size(Handle memory) {
    return ::GlobalSize(to_native<HGLOBAL>(memory));
}

void* Win32Platform::global_lock(Handle memory) {
    return ::GlobalLock(to_native<HGLOBAL>(memory));
}

bool Win32Platform::global_unlock(Handle memory) {
    return ::GlobalUnlock(to_native<HGLOBAL>(memory)) != FALSE;
}

Handle Win32Platform::global_free(Handle memory) {
    return from_pointer(::GlobalFree(to_native<HGLOBAL>(memory)));
}

}  // namespace cua_actions::windows
