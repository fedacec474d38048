// The paste path of "type" on the real clipboard. Input-method state is only
// visible inside one process under Wine, so the target window is our own: an
// edit control on a thread of its own that pumps its messages while the action
// runs on the test thread.
#include <windows.h>
// imm.h needs the types of windows.h first.
#include <imm.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "cua_actions/windows/dispatcher.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

using ClipboardMap = std::map<UINT, std::string>;

// Every global-memory format on the clipboard with its bytes.
ClipboardMap read_clipboard() {
    ClipboardMap contents;
    if (!::OpenClipboard(nullptr)) {
        ADD_FAILURE() << "OpenClipboard failed";
        return contents;
    }
    for (UINT format = ::EnumClipboardFormats(0); format != 0;
         format = ::EnumClipboardFormats(format)) {
        HANDLE data = ::GetClipboardData(format);
        const SIZE_T size = data != nullptr ? ::GlobalSize(data) : 0;
        const void* address = size != 0 ? ::GlobalLock(data) : nullptr;
        if (address != nullptr) {
            contents[format] = std::string(static_cast<const char*>(address), size);
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return contents;
}

void set_clipboard(const ClipboardMap& contents) {
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    for (const auto& [format, bytes] : contents) {
        HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        std::copy(bytes.begin(), bytes.end(), static_cast<char*>(::GlobalLock(block)));
        ::GlobalUnlock(block);
        ASSERT_NE(::SetClipboardData(format, block), nullptr);
    }
    ::CloseClipboard();
}

std::string utf16_bytes(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
}

// A top-level window with an edit control, owned by its own message thread.
class EditWindow {
  public:
    EditWindow() : thread_([this] { run(); }) {
        while (!ready_.load()) {
            ::Sleep(10);
        }
    }
    ~EditWindow() {
        ::PostThreadMessageW(thread_id_.load(), WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND top() const { return top_; }
    bool ime_open() const { return ime_open_; }
    std::u16string text() const {
        std::u16string buffer(4096, u'\0');
        const LRESULT length = ::SendMessageW(edit_, WM_GETTEXT, buffer.size(),
                                              reinterpret_cast<LPARAM>(buffer.data()));
        buffer.resize(static_cast<std::size_t>(length));
        return buffer;
    }

  private:
    void run() {
        thread_id_ = ::GetCurrentThreadId();
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = ::DefWindowProcW;
        window_class.hInstance = ::GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"ZeltoPasteTestWindow";
        ::RegisterClassW(&window_class);
        top_ = ::CreateWindowExW(0, L"ZeltoPasteTestWindow", L"paste test",
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 200, nullptr,
                                 nullptr, window_class.hInstance, nullptr);
        edit_ = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10,
                                  360, 30, top_, nullptr, window_class.hInstance, nullptr);
        ::SetForegroundWindow(top_);
        ::SetFocus(edit_);
        // Open the window's input method, as a user with an IME switched on would.
        if (HIMC context = ::ImmGetContext(top_)) {
            ::ImmSetOpenStatus(context, TRUE);
            ime_open_ = ::ImmGetOpenStatus(context) != FALSE;
            ::ImmReleaseContext(top_, context);
        }
        ready_ = true;
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::DestroyWindow(top_);
    }

    HWND top_ = nullptr;
    HWND edit_ = nullptr;
    bool ime_open_ = false;
    std::atomic<bool> ready_{false};
    std::atomic<DWORD> thread_id_{0};
    std::thread thread_;
};

TEST(Win32TypingPaste, OpenImePastesThroughControlVAndRestoresTheClipboardExactly) {
    set_platform(&win32_platform());
    EditWindow window;
    ASSERT_TRUE(window.ime_open()) << "ImmSetOpenStatus had no effect";
    ASSERT_EQ(::GetForegroundWindow(), window.top());

    const UINT private_format = ::RegisterClipboardFormatW(L"ZeltoPasteTestPrivate");
    set_clipboard({{CF_UNICODETEXT, utf16_bytes(u"user clipboard")},
                   {private_format, std::string("\x00\x01\x02\xFF", 4)}});
    const ClipboardMap before = read_clipboard();
    ASSERT_EQ(before.at(private_format), std::string("\x00\x01\x02\xFF", 4));

    const std::string typed =
        "h\xC3\xA9llo w\xC3\xB6rld \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
    const ActionResult result = dispatch("type", Json{{"text", typed}});
    EXPECT_EQ(result, (Json{{"ok", true}}));
    ::Sleep(100);  // let the edit thread finish the paste
    EXPECT_EQ(text::utf16_to_utf8(window.text()), typed);

    const ClipboardMap after = read_clipboard();
    EXPECT_EQ(after, before);
    for (const wchar_t* name : {L"ExcludeClipboardContentFromMonitorProcessing",
                                L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"}) {
        EXPECT_EQ(after.count(::RegisterClipboardFormatW(name)), 0u);
    }
    set_platform(nullptr);
}

}  // namespace
}  // namespace cua_actions::windows
