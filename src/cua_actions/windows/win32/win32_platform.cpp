#include "cua_actions/windows/win32/win32_platform.h"

#include <windows.h>

#include <limits>
#include <new>
#include <thread>
#include <vector>

#include "cua_actions/windows/win32/win32_handles.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

Rect to_rect(const RECT& rect) {
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

BOOL CALLBACK collect_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
    reinterpret_cast<std::vector<Handle>*>(list)->push_back(from_pointer(monitor));
    return TRUE;
}

// An export of a loaded module as the function type F, or nullptr when the
// system lacks it. Through void*: FARPROC itself fits no real signature.
template <typename F>
F find_export(HMODULE module, const char* name) {
    return module == nullptr
               ? nullptr
               : reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// A system library loaded for one look-up and freed afterwards. Only from the
// system folder, so a planted copy beside the program or in the working
// directory is never loaded.
class ScopedSystemLibrary {
  public:
    explicit ScopedSystemLibrary(const wchar_t* name)
        : module_(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
    ~ScopedSystemLibrary() {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
        }
    }
    ScopedSystemLibrary(const ScopedSystemLibrary&) = delete;
    ScopedSystemLibrary& operator=(const ScopedSystemLibrary&) = delete;
    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

using SetProcessDpiAwarenessContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
constexpr int kMdtEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

}  // namespace

Win32Platform& win32_platform() {
    static Win32Platform instance;
    return instance;
}

void Win32Platform::sleep_ms(std::uint32_t ms) {
    ::Sleep(ms);
}

std::chrono::nanoseconds Win32Platform::monotonic_now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

bool Win32Platform::set_process_dpi_aware() {
    return ::SetProcessDPIAware() != FALSE;
}

OptionalCall Win32Platform::set_process_dpi_awareness_context(DpiAwarenessContext context) {
    // user32 is linked, so it stays loaded; only the export may be missing.
    const auto set_context = find_export<SetProcessDpiAwarenessContextFn>(
        ::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext");
    if (set_context == nullptr) {
        return OptionalCall::unavailable;
    }
    const auto value = reinterpret_cast<DPI_AWARENESS_CONTEXT>(
        static_cast<std::intptr_t>(static_cast<std::int64_t>(context)));
    return set_context(value) != FALSE ? OptionalCall::accepted : OptionalCall::refused;
}

std::optional<std::uint32_t> Win32Platform::get_dpi_for_monitor(Handle monitor) {
    // shcore arrived with Windows 8.1.
    const ScopedSystemLibrary shcore(L"shcore.dll");
    const auto get_dpi = find_export<GetDpiForMonitorFn>(shcore.get(), "GetDpiForMonitor");
    if (get_dpi == nullptr) {
        return std::nullopt;
    }
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    if (FAILED(get_dpi(to_native<HMONITOR>(monitor), kMdtEffectiveDpi, &dpi_x, &dpi_y)) ||
        dpi_x == 0) {
        return std::nullopt;
    }
    return dpi_x;
}

std::uint32_t Win32Platform::get_last_error() {
    return ::GetLastError();
}

std::vector<Handle> Win32Platform::enum_display_monitors() {
    std::vector<Handle> monitors;
    ::EnumDisplayMonitors(nullptr, nullptr, collect_monitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

std::optional<MonitorInfo> Win32Platform::get_monitor_info(Handle monitor) {
    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);  // 104 bytes: the extended record
    if (!::GetMonitorInfoW(to_native<HMONITOR>(monitor), &info)) {
        return std::nullopt;
    }
    return MonitorInfo{to_rect(info.rcMonitor), to_rect(info.rcWork), info.dwFlags};
}

int Win32Platform::get_system_metrics(int index) {
    return ::GetSystemMetrics(index);
}

bool Win32Platform::set_cursor_pos(std::int32_t x, std::int32_t y) {
    return ::SetCursorPos(x, y) != FALSE;
}

std::optional<Point> Win32Platform::get_cursor_pos() {
    POINT point{};
    if (!::GetCursorPos(&point)) {
        return std::nullopt;
    }
    return Point{point.x, point.y};
}

std::uint32_t Win32Platform::send_input(std::span<const InputRecord> records) {
    // Too many records for one call, or no memory for their INPUT copies: nothing is sent, which
    // the caller sees as refused input.
    if (records.size() > std::numeric_limits<UINT>::max()) {
        return 0;
    }
    std::vector<INPUT> inputs;
    try {
        inputs.resize(records.size());
    } catch (const std::bad_alloc&) {
        return 0;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const InputRecord& record = records[i];
        INPUT& input = inputs[i];
        input.type = record.type;
        if (record.type == kInputKeyboard) {
            input.ki.wVk = record.keyboard.vk;
            input.ki.wScan = record.keyboard.scan;
            input.ki.dwFlags = record.keyboard.flags;
            input.ki.time = record.keyboard.time;
            input.ki.dwExtraInfo = 0;
        } else {
            input.mi.dx = record.mouse.dx;
            input.mi.dy = record.mouse.dy;
            input.mi.mouseData = static_cast<DWORD>(record.mouse.mouse_data);
            input.mi.dwFlags = record.mouse.flags;
            input.mi.time = record.mouse.time;
            input.mi.dwExtraInfo = 0;
        }
    }
    return ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::optional<std::string> read_environment_variable(const std::string& name) {
    const std::u16string wide_name = text::utf8_to_utf16(name);
    const auto* w_name = reinterpret_cast<const wchar_t*>(wide_name.c_str());
    ::SetLastError(ERROR_SUCCESS);
    const DWORD needed = ::GetEnvironmentVariableW(w_name, nullptr, 0);
    if (needed == 0) {
        // 0 with no error is a variable set to the empty text, which still counts as set.
        return ::GetLastError() == ERROR_SUCCESS ? std::optional<std::string>(std::string())
                                                 : std::nullopt;
    }
    std::u16string value(needed, u'\0');
    const DWORD length =
        ::GetEnvironmentVariableW(w_name, reinterpret_cast<wchar_t*>(value.data()), needed);
    if (length >= needed) {
        return std::nullopt;  // changed between the two calls
    }
    value.resize(length);
    if (!text::is_valid_utf16(value)) {
        return std::nullopt;
    }
    return text::utf16_to_utf8(value);
}

std::optional<std::string> Win32Platform::get_env(const std::string& name) {
    return read_environment_variable(name);
}

StreamWrite write_standard_stream(StandardStream stream, std::string_view bytes) {
    const HANDLE handle =
        ::GetStdHandle(stream == StandardStream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return StreamWrite::no_handle;
    }
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data() + offset, static_cast<DWORD>(bytes.size() - offset),
                         &written, nullptr) ||
            written == 0) {
            return StreamWrite::failed;
        }
        offset += written;
    }
    return StreamWrite::written;
}

void Win32Platform::write_stderr_line(std::string_view line) {
    std::string bytes(line);
    bytes.push_back('\n');
    // Diagnostics never change a result: a failed write is dropped.
    (void)write_standard_stream(StandardStream::error, bytes);
}

}  // namespace cua_actions::windows
