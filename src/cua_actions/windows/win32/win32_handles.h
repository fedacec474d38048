#pragma once
// Conversions between the platform cut's integer handles and Win32's typed
// handles and wide strings, shared by the win32_*.cpp files.

#include <windows.h>

#include <cstdint>
#include <string>

#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

// The Win32 handle type T (HWND, HDC, HGLOBAL, ...) that `handle` carries.
template <typename T>
T to_native(Handle handle) {
    return reinterpret_cast<T>(static_cast<std::uintptr_t>(handle));
}

inline HWND to_window(Handle handle) {
    return to_native<HWND>(handle);
}

inline Handle from_pointer(const void* pointer) {
    return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(pointer));
}

inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace cua_actions::windows
