// Win32 side of the click indicator: its thread, window class, window and
// painting, and system error messages.
#include <windows.h>

#include <memory>

#include "cua_actions/windows/click_indicator.h"
#include "cua_actions/windows/win32/win32_handles.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

DWORD WINAPI run_thread_body(LPVOID parameter) {
    const std::unique_ptr<std::function<void()>> body(
        static_cast<std::function<void()>*>(parameter));
    try {
        (*body)();
    } catch (...) {
        // Nothing of a detached thread may take the process down.
    }
    return 0;
}

// GDI objects of one paint, released in reverse order of acquisition.
class ScopedGdiObject {
  public:
    explicit ScopedGdiObject(HGDIOBJ object) : object_(object) {}
    ~ScopedGdiObject() {
        if (object_ != nullptr) {
            ::DeleteObject(object_);
        }
    }
    ScopedGdiObject(const ScopedGdiObject&) = delete;
    ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
    HGDIOBJ get() const { return object_; }

  private:
    HGDIOBJ object_;
};

class ScopedSelectObject {
  public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~ScopedSelectObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            ::SelectObject(dc_, previous_);
        }
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

void paint_ring(HWND window) {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(window, &paint);
    if (dc != nullptr) {
        const ScopedGdiObject key_brush(::CreateSolidBrush(kClickIndicatorKeyColor));
        const ScopedGdiObject pen(
            ::CreatePen(PS_SOLID, kClickIndicatorRingPenWidth, kClickIndicatorRingColor));
        HGDIOBJ hollow = ::GetStockObject(NULL_BRUSH);  // stock objects are never deleted
        const RECT client{0, 0, kClickIndicatorSize, kClickIndicatorSize};
        ::FillRect(dc, &client, static_cast<HBRUSH>(key_brush.get()));
        {
            const ScopedSelectObject select_pen(dc, pen.get());
            const ScopedSelectObject select_brush(dc, hollow);
            const Rect& box = kClickIndicatorRingBox;
            ::Ellipse(dc, box.left, box.top, box.right, box.bottom);
        }  // previous pen and brush selected back before the pen is deleted
    }
    ::EndPaint(window, &paint);
}

}  // namespace

LRESULT CALLBACK click_indicator_wndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT:
            paint_ring(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint fills the whole window
        case WM_NCHITTEST:
            return HTTRANSPARENT;  // clicks go to the windows below
        default:
            return ::DefWindowProcW(window, message, wparam, lparam);
    }
}

bool Win32Platform::start_detached_thread(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    HANDLE thread = ::CreateThread(nullptr, 0, run_thread_body, owned.get(), 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    owned.release();  // the thread frees it
    ::CloseHandle(thread);
    return true;
}

std::optional<Handle> Win32Platform::get_module_handle() {
    HMODULE module = ::GetModuleHandleW(nullptr);
    if (module == nullptr) {
        return std::nullopt;
    }
    return from_pointer(module);
}

std::optional<std::string> Win32Platform::format_system_message(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return std::nullopt;
    }
    std::u16string message(reinterpret_cast<const char16_t*>(buffer), length);
    ::LocalFree(buffer);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n')) {
        message.pop_back();
    }
    if (message.empty()) {
        return std::nullopt;
    }
    return text::utf16_to_utf8(message);
}

std::uint16_t Win32Platform::register_overlay_class(const std::string& class_name,
                                                    Handle instance) {
    const std::u16string name = text::utf8_to_utf16(class_name);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = click_indicator_wndproc;
    window_class.hInstance = to_native<HINSTANCE>(instance);
    window_class.lpszClassName = wide(name);
    return ::RegisterClassW(&window_class);
}

Handle Win32Platform::create_window_ex(const CreateWindowParams& window_params) {
    const std::u16string class_name = text::utf8_to_utf16(window_params.class_name);
    const std::u16string title = text::utf8_to_utf16(window_params.title);
    HWND window = ::CreateWindowExW(
        window_params.ex_style, wide(class_name), wide(title), window_params.style, window_params.x,
        window_params.y, window_params.width, window_params.height, to_window(window_params.parent),
        to_native<HMENU>(window_params.menu), to_native<HINSTANCE>(window_params.instance),
        nullptr);
    return from_pointer(window);
}

bool Win32Platform::set_layered_window_attributes(Handle window, std::uint32_t color_key,
                                                  std::uint8_t alpha, std::uint32_t flags) {
    return ::SetLayeredWindowAttributes(to_window(window), color_key, alpha, flags) != FALSE;
}

bool Win32Platform::show_window(Handle window, int command) {
    return ::ShowWindow(to_window(window), command) != FALSE;
}

bool Win32Platform::update_window(Handle window) {
    return ::UpdateWindow(to_window(window)) != FALSE;
}

bool Win32Platform::destroy_window(Handle window) {
    return ::DestroyWindow(to_window(window)) != FALSE;
}

}  // namespace cua_actions::windows
