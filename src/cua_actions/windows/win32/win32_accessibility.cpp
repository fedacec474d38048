// Win32 window classes, process image names, control text and Active
// Accessibility (oleacc) for the walk of a window's controls.
#include <windows.h>
// oleacc.h needs the COM types of windows.h first.
#include <oleacc.h>

#include <string>
#include <vector>

#include "cua_actions/windows/win32/win32_handles.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr int kClassNameUnits = 256;
constexpr DWORD kImageNameUnits = 32768;

IAccessible* to_accessible(Handle object) {
    return reinterpret_cast<IAccessible*>(static_cast<std::uintptr_t>(object));
}

VARIANT child_variant(std::int32_t child) {
    VARIANT variant;
    ::VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = child;
    return variant;
}

// Owns a BSTR an accessibility call handed out.
class ScopedBstr {
  public:
    ScopedBstr() = default;
    ~ScopedBstr() { ::SysFreeString(text_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR* out() { return &text_; }
    std::string utf8() const {
        if (text_ == nullptr) {
            return {};
        }
        const std::u16string units(reinterpret_cast<const char16_t*>(text_), ::SysStringLen(text_));
        return text::utf16_to_utf8(units);
    }

  private:
    BSTR text_ = nullptr;
};

// Owns a VARIANT an accessibility call filled in.
class ScopedVariant {
  public:
    ScopedVariant() { ::VariantInit(&value_); }
    ~ScopedVariant() { ::VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT* out() { return &value_; }
    const VARIANT& get() const { return value_; }

  private:
    VARIANT value_;
};

std::optional<std::uint32_t> variant_number(const VARIANT& value) {
    if (value.vt == VT_I4) {
        return static_cast<std::uint32_t>(value.lVal);
    }
    return std::nullopt;  // a role given as text (VT_BSTR) is not one of the system's
}

}  // namespace

std::string Win32Platform::get_class_name(Handle window) {
    wchar_t buffer[kClassNameUnits] = {};
    const int length = ::GetClassNameW(to_window(window), buffer, kClassNameUnits);
    if (length <= 0) {
        return {};
    }
    return text::utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t*>(buffer),
                                              static_cast<std::size_t>(length)));
}

bool Win32Platform::is_window(Handle window) {
    return ::IsWindow(to_window(window)) != FALSE;
}

std::optional<std::string> Win32Platform::get_process_image_name(std::uint32_t process_id) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) {
        return std::nullopt;
    }
    std::u16string buffer(kImageNameUnits, u'\0');
    DWORD size = kImageNameUnits;
    const BOOL found =
        ::QueryFullProcessImageNameW(process, 0, reinterpret_cast<wchar_t*>(buffer.data()), &size);
    ::CloseHandle(process);
    if (!found) {
        return std::nullopt;
    }
    buffer.resize(size);
    return text::utf16_to_utf8(buffer);
}

std::optional<std::u16string> Win32Platform::get_control_text(Handle window, int buffer_units,
                                                              std::uint32_t timeout_ms) {
    if (buffer_units <= 0) {
        return std::u16string();
    }
    std::u16string buffer(static_cast<std::size_t>(buffer_units), u'\0');
    DWORD_PTR copied = 0;
    if (::SendMessageTimeoutW(to_window(window), WM_GETTEXT, static_cast<WPARAM>(buffer_units),
                              reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, timeout_ms,
                              &copied) == 0) {
        return std::nullopt;
    }
    buffer.resize(std::min<std::size_t>(copied, buffer.size() - 1));
    return buffer;
}

bool Win32Platform::post_message(Handle window, std::uint32_t message, std::uint64_t wparam,
                                 std::int64_t lparam) {
    return ::PostMessageW(to_window(window), message, static_cast<WPARAM>(wparam),
                          static_cast<LPARAM>(lparam)) != FALSE;
}

bool Win32Platform::co_initialize() {
    // S_FALSE (already initialized here) also needs its CoUninitialize.
    return SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void Win32Platform::co_uninitialize() {
    ::CoUninitialize();
}

Handle Win32Platform::accessible_object_from_window(Handle window, std::int32_t object_id) {
    void* object = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(to_window(window), static_cast<DWORD>(object_id),
                                            IID_IAccessible, &object))) {
        return 0;
    }
    return from_pointer(object);
}

void Win32Platform::release_accessible(Handle object) {
    if (object != 0) {
        to_accessible(object)->Release();
    }
}

std::optional<std::vector<AccessibleChild>> Win32Platform::accessible_children(Handle object) {
    IAccessible* parent = to_accessible(object);
    LONG count = 0;
    if (FAILED(parent->get_accChildCount(&count)) || count < 0) {
        return std::nullopt;
    }
    std::vector<AccessibleChild> children;
    if (count == 0) {
        return children;
    }
    std::vector<VARIANT> slots(static_cast<std::size_t>(count));
    for (VARIANT& slot : slots) {
        ::VariantInit(&slot);
    }
    LONG obtained = 0;
    const HRESULT result = ::AccessibleChildren(parent, 0, count, slots.data(), &obtained);
    for (LONG i = 0; i < obtained; ++i) {
        VARIANT& slot = slots[static_cast<std::size_t>(i)];
        if (SUCCEEDED(result) && slot.vt == VT_DISPATCH && slot.pdispVal != nullptr) {
            void* child = nullptr;
            if (SUCCEEDED(slot.pdispVal->QueryInterface(IID_IAccessible, &child))) {
                children.push_back(AccessibleChild{from_pointer(child), 0});
            }
        } else if (SUCCEEDED(result) && slot.vt == VT_I4) {
            children.push_back(AccessibleChild{0, static_cast<std::int32_t>(slot.lVal)});
        }
        ::VariantClear(&slot);
    }
    if (FAILED(result)) {
        return std::nullopt;
    }
    return children;
}

Handle Win32Platform::window_from_accessible_object(Handle object) {
    HWND window = nullptr;
    if (FAILED(::WindowFromAccessibleObject(to_accessible(object), &window))) {
        return 0;
    }
    return from_pointer(window);
}

std::optional<std::string> Win32Platform::get_acc_name(Handle object, std::int32_t child) {
    ScopedBstr name;
    if (to_accessible(object)->get_accName(child_variant(child), name.out()) != S_OK) {
        return std::nullopt;
    }
    return name.utf8();
}

std::optional<std::string> Win32Platform::get_acc_value(Handle object, std::int32_t child) {
    ScopedBstr value;
    if (to_accessible(object)->get_accValue(child_variant(child), value.out()) != S_OK) {
        return std::nullopt;
    }
    return value.utf8();
}

std::optional<std::uint32_t> Win32Platform::get_acc_role(Handle object, std::int32_t child) {
    ScopedVariant role;
    if (FAILED(to_accessible(object)->get_accRole(child_variant(child), role.out()))) {
        return std::nullopt;
    }
    return variant_number(role.get());
}

std::optional<std::uint32_t> Win32Platform::get_acc_state(Handle object, std::int32_t child) {
    ScopedVariant state;
    if (FAILED(to_accessible(object)->get_accState(child_variant(child), state.out()))) {
        return std::nullopt;
    }
    return variant_number(state.get());
}

std::optional<Rect> Win32Platform::acc_location(Handle object, std::int32_t child) {
    LONG left = 0, top = 0, width = 0, height = 0;
    if (FAILED(to_accessible(object)->accLocation(&left, &top, &width, &height,
                                                  child_variant(child)))) {
        return std::nullopt;
    }
    return Rect{left, top, left + width, top + height};
}

bool Win32Platform::put_acc_value(Handle object, std::int32_t child, const std::string& value) {
    const std::u16string units = text::utf8_to_utf16(value);
    BSTR text = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(units.data()),
                                    static_cast<UINT>(units.size()));
    if (text == nullptr) {
        return false;
    }
    const HRESULT result = to_accessible(object)->put_accValue(child_variant(child), text);
    ::SysFreeString(text);
    return SUCCEEDED(result);
}

}  // namespace cua_actions::windows

namespace cua_actions::windows {
namespace {

std::optional<LRESULT> send_bounded(Handle window, UINT message, WPARAM wparam, LPARAM lparam,
                                    std::uint32_t timeout_ms) {
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(to_window(window), message, wparam, lparam, SMTO_ABORTIFHUNG,
                              timeout_ms, &result) == 0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

}  // namespace

std::optional<int> Win32Platform::list_box_count(Handle window, std::uint32_t timeout_ms) {
    const auto count = send_bounded(window, LB_GETCOUNT, 0, 0, timeout_ms);
    if (!count || *count < 0) {
        return std::nullopt;
    }
    return static_cast<int>(*count);
}

std::optional<int> Win32Platform::list_box_top_index(Handle window, std::uint32_t timeout_ms) {
    const auto top = send_bounded(window, LB_GETTOPINDEX, 0, 0, timeout_ms);
    if (!top || *top < 0) {
        return std::nullopt;
    }
    return static_cast<int>(*top);
}

std::optional<ListBoxItem> Win32Platform::list_box_item(Handle window, int index,
                                                        std::uint32_t timeout_ms) {
    // The system copies these messages' buffers across processes (they are below WM_USER).
    const auto length =
        send_bounded(window, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0, timeout_ms);
    if (!length || *length < 0 || *length > 65536) {
        return std::nullopt;
    }
    std::u16string text(static_cast<std::size_t>(*length) + 1, u'\0');
    const auto copied = send_bounded(window, LB_GETTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()), timeout_ms);
    RECT rect{};
    const auto placed = send_bounded(window, LB_GETITEMRECT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(&rect), timeout_ms);
    if (!copied || *copied < 0 || !placed || *placed == LB_ERR) {
        return std::nullopt;
    }
    text.resize(std::min<std::size_t>(static_cast<std::size_t>(*copied), text.size() - 1));
    ::MapWindowPoints(to_window(window), nullptr, reinterpret_cast<POINT*>(&rect), 2);
    const auto selected =
        send_bounded(window, LB_GETSEL, static_cast<WPARAM>(index), 0, timeout_ms);
    return ListBoxItem{text::utf16_to_utf8(text),
                       Rect{rect.left, rect.top, rect.right, rect.bottom},
                       selected && *selected > 0};
}

}  // namespace cua_actions::windows
