// Code pages: the OEM code page console programs write redirected output in,
// and conversion from a code page to UTF-16.
#include <windows.h>

#include <climits>

#include "cua_actions/windows/win32/win32_platform.h"

namespace cua_actions::windows {

std::uint32_t Win32Platform::get_oem_code_page() {
    return ::GetOEMCP();
}

std::optional<std::u16string> Win32Platform::multi_byte_to_wide_char(std::uint32_t code_page,
                                                                     std::string_view bytes) {
    if (bytes.empty()) {
        return std::u16string();  // the call itself refuses an empty input
    }
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const int size = static_cast<int>(bytes.size());
    const int units = ::MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
    if (units <= 0) {
        return std::nullopt;
    }
    std::u16string wide(static_cast<std::size_t>(units), u'\0');
    if (::MultiByteToWideChar(code_page, 0, bytes.data(), size,
                              reinterpret_cast<wchar_t*>(wide.data()), units) != units) {
        return std::nullopt;
    }
    return wide;
}

}  // namespace cua_actions::windows
