// Test-only probe application for the end-to-end tier. It shows what reaches
// a real window under Wine, so every action's effect is observed, not assumed.
//
//   zelto-probe.exe window <log> [x y w h] [seconds] [quadrants]  open a window and
//       record every mouse, wheel, key and character message as one JSON line in <log>;
//       with quadrants (RRGGBB,RRGGBB,RRGGBB,RRGGBB: top left, top right, bottom left,
//       bottom right) a frameless window painted in those four colours
//   zelto-probe.exe cursor                            print the cursor position "x y"
//   zelto-probe.exe windows                           print visible top-level windows
//   zelto-probe.exe watch <class> <seconds> [row]     print "ready", then the first
//       visible window of that class as soon as it appears (status 1: none came); with
//       row, then the screen pixels of its middle row while it shows (see watch_row)
//   zelto-probe.exe hold-clipboard <seconds>           keep the clipboard open, as a
//       clipboard manager may; prints "ready" once it is open (status 1: it was not)
//   zelto-probe.exe controls <log> [seconds] [items] [hung]  a window of standard controls
//       (button, edit, check box, list box of <items> entries, static label) in front of a
//       second window; logs BN_CLICKED, EN_CHANGE and the second window's clicks; with
//       hung, one more child window whose thread sleeps (see run_controls)
//   zelto-probe.exe image <log> <bmp> [seconds]        show a 32-bit BMP in a borderless
//       window at 0,0 of its own size (a busy desktop), recording as "window" does
//   zelto-probe.exe buttons <log> [x y w h] [seconds]  a window whose class takes double
//       clicks (CS_DBLCLKS): records what "window" does plus double clicks, middle and
//       X buttons, the horizontal wheel and MK_SHIFT/MK_CONTROL of each button message,
//       and a "keystate" line whenever Shift, Control, Alt or A go down or up (GetKeyState)
//
// Log lines are written whenever the message queue runs dry (and every 64 KiB
// during a burst), so a test can read them while the window lives without the
// probe paying one write per message.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

FILE* g_log = nullptr;
std::string g_pending_log;
// The quadrant colours of a painted window (COLORREF), or none.
bool g_painted = false;
COLORREF g_quadrants[4] = {};

bool parse_quadrants(const wchar_t* text) {
    unsigned rgb[4];
    if (std::swscanf(text, L"%6x,%6x,%6x,%6x", &rgb[0], &rgb[1], &rgb[2], &rgb[3]) != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        g_quadrants[i] = RGB(rgb[i] >> 16, (rgb[i] >> 8) & 0xFF, rgb[i] & 0xFF);
    }
    return true;
}

void paint_quadrants(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    const LONG mid_x = client.right / 2, mid_y = client.bottom / 2;
    const RECT parts[4] = {{0, 0, mid_x, mid_y},
                           {mid_x, 0, client.right, mid_y},
                           {0, mid_y, mid_x, client.bottom},
                           {mid_x, mid_y, client.right, client.bottom}};
    for (int i = 0; i < 4; ++i) {
        HBRUSH brush = CreateSolidBrush(g_quadrants[i]);
        FillRect(dc, &parts[i], brush);
        DeleteObject(brush);
    }
    EndPaint(window, &paint);
}

std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    }
    return result;
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof(buffer), "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void flush_log() {
    if (g_log != nullptr && !g_pending_log.empty()) {
        std::fwrite(g_pending_log.data(), 1, g_pending_log.size(), g_log);
        std::fflush(g_log);
    }
    g_pending_log.clear();
}

void log_line(const char* line) {
    g_pending_log += line;
    g_pending_log += '\n';
    if (g_pending_log.size() >= 64 * 1024) {
        flush_log();
    }
}

void log_window_state(HWND window, const char* event) {
    RECT rect{};
    GetWindowRect(window, &rect);
    char buffer[256];
    std::snprintf(buffer, sizeof(buffer),
                  "{\"msg\":\"%s\",\"hwnd\":%llu,\"rect\":[%ld,%ld,%ld,%ld],\"foreground\":%s,"
                  "\"zoomed\":%s}",
                  event, static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                  rect.left, rect.top, rect.right, rect.bottom,
                  GetForegroundWindow() == window ? "true" : "false",
                  IsZoomed(window) ? "true" : "false");
    log_line(buffer);
}

void log_mouse(const char* name, HWND window, LPARAM lparam, int wheel) {
    POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    if (wheel == 0) {
        ClientToScreen(window, &point);  // wheel messages already carry screen coordinates
    }
    char buffer[160];
    std::snprintf(buffer, sizeof(buffer), "{\"msg\":\"%s\",\"x\":%ld,\"y\":%ld,\"wheel\":%d}", name,
                  point.x, point.y, wheel);
    log_line(buffer);
}

void log_key(const char* name, WPARAM wparam, LPARAM lparam) {
    char buffer[160];
    std::snprintf(buffer, sizeof(buffer), "{\"msg\":\"%s\",\"vk\":%u,\"extended\":%s}", name,
                  static_cast<unsigned>(wparam), (lparam & (1 << 24)) ? "true" : "false");
    log_line(buffer);
}

LRESULT CALLBACK probe_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_LBUTTONDOWN:
            log_mouse("lbuttondown", window, lparam, 0);
            return 0;
        case WM_LBUTTONUP:
            log_mouse("lbuttonup", window, lparam, 0);
            return 0;
        case WM_RBUTTONDOWN:
            log_mouse("rbuttondown", window, lparam, 0);
            return 0;
        case WM_RBUTTONUP:
            log_mouse("rbuttonup", window, lparam, 0);
            return 0;
        case WM_MOUSEMOVE:
            log_mouse("mousemove", window, lparam, 0);
            return 0;
        case WM_MOUSEWHEEL:
            log_mouse("mousewheel", window, lparam, GET_WHEEL_DELTA_WPARAM(wparam));
            return 0;
        case WM_KEYDOWN:
            log_key("keydown", wparam, lparam);
            return 0;
        case WM_KEYUP:
            log_key("keyup", wparam, lparam);
            return 0;
        case WM_SYSKEYDOWN:
            log_key("syskeydown", wparam, lparam);
            return 0;
        case WM_SYSKEYUP:
            log_key("syskeyup", wparam, lparam);
            return 0;
        case WM_CHAR: {
            char buffer[64];
            std::snprintf(buffer, sizeof(buffer), "{\"msg\":\"char\",\"unit\":%u}",
                          static_cast<unsigned>(wparam));
            log_line(buffer);
            return 0;
        }
        case WM_TIMER:
            log_window_state(window, "state");
            return 0;
        case WM_PAINT:
            if (!g_painted) {
                return DefWindowProcW(window, message, wparam, lparam);
            }
            paint_quadrants(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

struct WindowPlace {
    int x, y, width, height;
};

// Registers the class, shows the window in front and logs its "ready" state.
HWND open_window(WNDPROC proc, const wchar_t* class_name, const wchar_t* title, DWORD style,
                 WindowPlace place, HBRUSH background) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = background;
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, class_name, title, style, place.x, place.y, place.width,
                                  place.height, nullptr, nullptr, window_class.hInstance, nullptr);
    if (window == nullptr) {
        return nullptr;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);
    log_window_state(window, "ready");
    flush_log();
    return window;
}

// Serves the window until it quits or the time is up, writing the log whenever
// the queue runs dry, then closes the log once.
int pump_messages(int seconds) {
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    MSG message;
    bool quit = false;
    while (!quit && GetTickCount() < deadline) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        flush_log();
        if (!quit) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }
    std::fclose(g_log);
    return 0;
}

int run_window(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 2;
    }
    g_log = _wfopen(argv[2], L"ab");
    if (g_log == nullptr) {
        return 3;
    }
    int x = 100, y = 100, width = 640, height = 480, seconds = 60;
    if (argc >= 7) {
        x = _wtoi(argv[3]);
        y = _wtoi(argv[4]);
        width = _wtoi(argv[5]);
        height = _wtoi(argv[6]);
    }
    if (argc >= 8) {
        seconds = _wtoi(argv[7]);
    }
    if (argc >= 9 && !(g_painted = parse_quadrants(argv[8]))) {
        return 2;
    }
    // Frameless, so the painted client area is exactly the window's rectangle.
    const DWORD style = g_painted ? WS_POPUP : WS_OVERLAPPEDWINDOW;
    const HWND window =
        open_window(probe_proc, L"ZeltoProbeWindow", L"Zelto Probe", style, {x, y, width, height},
                    static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (window == nullptr) {
        return 4;
    }
    SetTimer(window, 1, 500, nullptr);
    return pump_messages(seconds);
}

// --- the controls window ---------------------------------------------------------
constexpr int kButtonId = 101, kEditId = 102, kCheckId = 103, kListId = 104, kLabelId = 105;

LRESULT CALLBACK controls_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND) {
        const int id = LOWORD(wparam);
        const int code = HIWORD(wparam);
        char buffer[512];
        if (id == kButtonId && code == BN_CLICKED) {
            std::snprintf(buffer, sizeof(buffer), "{\"msg\":\"bn_clicked\",\"id\":%d}", id);
            log_line(buffer);
        } else if (id == kEditId && code == EN_CHANGE) {
            wchar_t text[256] = {};
            GetWindowTextW(reinterpret_cast<HWND>(lparam), text, 256);
            std::snprintf(buffer, sizeof(buffer), "{\"msg\":\"en_change\",\"text\":%s}",
                          json_string(utf8(text)).c_str());
            log_line(buffer);
        }
        return 0;
    }
    return probe_proc(window, message, wparam, lparam);
}

LRESULT CALLBACK behind_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_LBUTTONDOWN) {
        log_mouse("behind_lbuttondown", window, lparam, 0);
        return 0;
    }
    return probe_proc(window, message, wparam, lparam);
}

HWND g_controls = nullptr;

// A child window of the controls window owned by a thread that never answers again.
DWORD WINAPI hung_thread(LPVOID) {
    CreateWindowExW(0, L"Static", L"Busy panel", WS_CHILD | WS_VISIBLE, 400, 300, 150, 40,
                    g_controls, nullptr, GetModuleHandleW(nullptr), nullptr);
    log_line("{\"msg\":\"hung\"}");
    Sleep(INFINITE);
    return 0;
}

HWND child(const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y, int w, int h,
           int id) {
    return CreateWindowExW(0, class_name, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                           g_controls, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

int run_controls(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 2;
    }
    g_log = _wfopen(argv[2], L"ab");
    if (g_log == nullptr) {
        return 3;
    }
    const int seconds = argc >= 4 ? _wtoi(argv[3]) : 60;
    const int items = argc >= 5 ? _wtoi(argv[4]) : 3;
    const bool hung = argc >= 6 && std::wstring(argv[5]) == L"hung";
    const auto white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    // First, so it is behind; it overlaps the controls window's right part.
    if (open_window(behind_proc, L"ZeltoProbeBehind", L"Zelto Behind", WS_OVERLAPPEDWINDOW,
                    {500, 150, 600, 400}, white) == nullptr) {
        return 4;
    }
    g_controls = open_window(controls_proc, L"ZeltoProbeControls", L"Zelto Controls",
                             WS_OVERLAPPEDWINDOW, {100, 100, 640, 480}, white);
    if (g_controls == nullptr) {
        return 4;
    }
    child(L"Button", L"Press me", BS_PUSHBUTTON, 20, 20, 120, 30, kButtonId);
    child(L"Edit", L"hello probe", WS_BORDER | ES_AUTOHSCROLL, 160, 20, 200, 26, kEditId);
    const HWND check = child(L"Button", L"Remember me", BS_AUTOCHECKBOX, 20, 70, 160, 24, kCheckId);
    SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
    const HWND list =
        child(L"ListBox", L"", WS_BORDER | WS_VSCROLL | LBS_NOTIFY, 20, 110, 200, 200, kListId);
    // One redraw for all entries: thousands of them would otherwise take a minute under Wine.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_INITSTORAGE, static_cast<WPARAM>(items), items * 16);
    for (int i = 0; i < items; ++i) {
        wchar_t text[32];
        std::swprintf(text, 32, L"Item %d", i + 1);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    child(L"Static", L"Name label", 0, 240, 110, 120, 24, kLabelId);
    if (hung) {
        CloseHandle(CreateThread(nullptr, 0, hung_thread, nullptr, 0, nullptr));
    }
    SetForegroundWindow(g_controls);
    // Where each control is, for the test to compare with what the walk reports.
    std::string rects = "{\"msg\":\"rects\"";
    for (const int id : {kButtonId, kEditId, kCheckId, kListId, kLabelId}) {
        RECT rect{};
        GetWindowRect(GetDlgItem(g_controls, id), &rect);
        char buffer[96];
        std::snprintf(buffer, sizeof(buffer), ",\"%d\":[%ld,%ld,%ld,%ld]", id, rect.left, rect.top,
                      rect.right, rect.bottom);
        rects += buffer;
    }
    log_line((rects + "}").c_str());
    log_window_state(g_controls, "controls");
    flush_log();
    return pump_messages(seconds);
}

// A 32-bit uncompressed BMP, read whole; painted as it is, never scaled.
struct ShownImage {
    std::string file;
    const BITMAPINFO* info = nullptr;
    const void* bits = nullptr;
    int width = 0;
    int height = 0;
};
ShownImage g_image;

bool load_image(const wchar_t* path) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) {
        return false;
    }
    char chunk[64 * 1024];
    std::size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        g_image.file.append(chunk, read);
    }
    std::fclose(file);
    if (g_image.file.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) {
        return false;
    }
    const auto* header = reinterpret_cast<const BITMAPFILEHEADER*>(g_image.file.data());
    g_image.info =
        reinterpret_cast<const BITMAPINFO*>(g_image.file.data() + sizeof(BITMAPFILEHEADER));
    const BITMAPINFOHEADER& bmi = g_image.info->bmiHeader;
    g_image.width = bmi.biWidth;
    g_image.height = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
    const std::size_t bytes = std::size_t(g_image.width) * std::size_t(g_image.height) * 4;
    if (header->bfType != 0x4D42 || bmi.biBitCount != 32 || bmi.biCompression != BI_RGB ||
        g_image.width <= 0 || header->bfOffBits + bytes > g_image.file.size()) {
        return false;
    }
    g_image.bits = g_image.file.data() + header->bfOffBits;
    return true;
}

LRESULT CALLBACK image_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        StretchDIBits(dc, 0, 0, g_image.width, g_image.height, 0, 0, g_image.width, g_image.height,
                      g_image.bits, g_image.info, DIB_RGB_COLORS, SRCCOPY);
        EndPaint(window, &paint);
        return 0;
    }
    return probe_proc(window, message, wparam, lparam);
}

int run_image_window(int argc, wchar_t** argv) {
    if (argc < 4) {
        return 2;
    }
    g_log = _wfopen(argv[2], L"ab");
    if (g_log == nullptr || !load_image(argv[3])) {
        return 3;
    }
    const int seconds = argc >= 5 ? _wtoi(argv[4]) : 60;
    const HWND window = open_window(image_proc, L"ZeltoProbeImage", L"Zelto Probe Image", WS_POPUP,
                                    {0, 0, g_image.width, g_image.height}, nullptr);
    if (window == nullptr) {
        return 4;
    }
    return pump_messages(seconds);
}

// --- the buttons window: double clicks, more buttons, held keys ----------------

// A button message with the keys its wParam says were down and, for X buttons, which one.
void log_button(const char* name, HWND window, WPARAM wparam, LPARAM lparam) {
    POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    ClientToScreen(window, &point);
    const WORD keys = GET_KEYSTATE_WPARAM(wparam);
    char buffer[200];
    std::snprintf(buffer, sizeof(buffer),
                  "{\"msg\":\"%s\",\"x\":%ld,\"y\":%ld,\"shift\":%s,\"control\":%s,"
                  "\"xbutton\":%u,\"t\":%lu}",
                  name, point.x, point.y, (keys & MK_SHIFT) ? "true" : "false",
                  (keys & MK_CONTROL) ? "true" : "false",
                  static_cast<unsigned>(GET_XBUTTON_WPARAM(wparam)),
                  static_cast<unsigned long>(GetMessageTime()));
    log_line(buffer);
}

// Logs the thread's view of the keys whenever it changes.
void log_key_state_change() {
    static int last = -1;
    const int state =
        ((GetKeyState(VK_SHIFT) & 0x8000) ? 1 : 0) | ((GetKeyState(VK_CONTROL) & 0x8000) ? 2 : 0) |
        ((GetKeyState(VK_MENU) & 0x8000) ? 4 : 0) | ((GetKeyState('A') & 0x8000) ? 8 : 0);
    if (state == last) {
        return;
    }
    last = state;
    char buffer[160];
    std::snprintf(buffer, sizeof(buffer),
                  "{\"msg\":\"keystate\",\"shift\":%s,\"control\":%s,\"alt\":%s,\"a\":%s,"
                  "\"t\":%lu}",
                  (state & 1) ? "true" : "false", (state & 2) ? "true" : "false",
                  (state & 4) ? "true" : "false", (state & 8) ? "true" : "false",
                  static_cast<unsigned long>(GetTickCount()));
    log_line(buffer);
}

LRESULT CALLBACK buttons_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    static const std::pair<UINT, const char*> kButtons[] = {
        {WM_LBUTTONDOWN, "lbuttondown"},     {WM_LBUTTONUP, "lbuttonup"},
        {WM_LBUTTONDBLCLK, "lbuttondblclk"}, {WM_RBUTTONDOWN, "rbuttondown"},
        {WM_RBUTTONUP, "rbuttonup"},         {WM_MBUTTONDOWN, "mbuttondown"},
        {WM_MBUTTONUP, "mbuttonup"},         {WM_XBUTTONDOWN, "xbuttondown"},
        {WM_XBUTTONUP, "xbuttonup"},
    };
    for (const auto& [code, name] : kButtons) {
        if (message == code) {
            log_button(name, window, wparam, lparam);
            return message == WM_XBUTTONDOWN || message == WM_XBUTTONUP ? TRUE : 0;
        }
    }
    switch (message) {
        case WM_MOUSEHWHEEL:
            // The point is not checked: Wine gives it in client coordinates.
            log_mouse("mousehwheel", window, lparam, GET_WHEEL_DELTA_WPARAM(wparam));
            return 0;
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP: {
            const LRESULT result = probe_proc(window, message, wparam, lparam);
            log_key_state_change();
            return result;
        }
        case WM_TIMER:
            log_key_state_change();
            return 0;
        default:
            return probe_proc(window, message, wparam, lparam);
    }
}

int run_buttons_window(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 2;
    }
    g_log = _wfopen(argv[2], L"ab");
    if (g_log == nullptr) {
        return 3;
    }
    WindowPlace place{100, 100, 640, 480};
    if (argc >= 7) {
        place = {_wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6])};
    }
    const int seconds = argc >= 8 ? _wtoi(argv[7]) : 60;
    WNDCLASSW window_class{};
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = buttons_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    window_class.lpszClassName = L"ZeltoProbeButtons";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"Zelto Probe Buttons",
                                  WS_OVERLAPPEDWINDOW, place.x, place.y, place.width, place.height,
                                  nullptr, nullptr, window_class.hInstance, nullptr);
    if (window == nullptr) {
        return 4;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);
    log_window_state(window, "ready");
    flush_log();
    SetTimer(window, 1, 20, nullptr);  // key state seen between key messages too
    return pump_messages(seconds);
}

int print_cursor() {
    POINT point{};
    if (!GetCursorPos(&point)) {
        return 1;
    }
    std::printf("%ld %ld\n", point.x, point.y);
    return 0;
}

BOOL CALLBACK print_window(HWND window, LPARAM) {
    if (!IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t title[512] = {};
    wchar_t class_name[256] = {};
    GetWindowTextW(window, title, 512);
    GetClassNameW(window, class_name, 256);
    RECT rect{};
    GetWindowRect(window, &rect);
    std::printf("{\"title\":%s,\"class\":%s,\"rect\":[%ld,%ld,%ld,%ld],\"exstyle\":%lu}\n",
                json_string(utf8(title)).c_str(), json_string(utf8(class_name)).c_str(), rect.left,
                rect.top, rect.right, rect.bottom,
                static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));
    return TRUE;
}

// The screen pixels (0xRRGGBB) of a window's middle row, sampled until one is
// pure red or the window is gone: a window shown for a moment may be on screen
// a little before it is painted.
int watch_row(HWND window) {
    std::string pixels;
    RECT rect{};
    for (int attempt = 0; attempt < 50 && IsWindow(window); ++attempt) {
        GetWindowRect(window, &rect);
        HDC screen = GetDC(nullptr);
        bool red = false;
        pixels.clear();
        const LONG y = (rect.top + rect.bottom) / 2;
        for (LONG x = rect.left; x < rect.right; ++x) {
            const COLORREF c = GetPixel(screen, x, y);
            red = red || c == RGB(255, 0, 0);
            char buffer[16];
            std::snprintf(buffer, sizeof(buffer), "%s%lu", pixels.empty() ? "" : ",",
                          static_cast<unsigned long>((GetRValue(c) << 16) | (GetGValue(c) << 8) |
                                                     GetBValue(c)));
            pixels += buffer;
        }
        ReleaseDC(nullptr, screen);
        if (red) {
            break;
        }
        Sleep(5);
    }
    std::printf("{\"msg\":\"row\",\"left\":%ld,\"y\":%ld,\"pixels\":[%s]}\n", rect.left,
                (rect.top + rect.bottom) / 2, pixels.c_str());
    std::fflush(stdout);
    return 0;
}

// Polls in-process, a millisecond apart: a short-lived window (the click
// indicator lives only as long as its action) is seen even on a slow desktop,
// where starting one Wine process per look would miss it.
int watch_for_window(const std::wstring& class_name, int seconds, bool row) {
    std::printf("ready\n");
    std::fflush(stdout);
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < deadline) {
        HWND window = FindWindowW(class_name.c_str(), nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            print_window(window, 0);
            std::fflush(stdout);
            return row ? watch_row(window) : 0;
        }
        Sleep(1);
    }
    return 1;
}

int hold_clipboard(int seconds) {
    if (!OpenClipboard(nullptr)) {
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    CloseClipboard();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetProcessDPIAware();
    if (argc < 2) {
        return 2;
    }
    const std::wstring mode = argv[1];
    if (mode == L"window") {
        return run_window(argc, argv);
    }
    if (mode == L"buttons") {
        return run_buttons_window(argc, argv);
    }
    if (mode == L"controls") {
        return run_controls(argc, argv);
    }
    if (mode == L"image") {
        return run_image_window(argc, argv);
    }
    if (mode == L"cursor") {
        return print_cursor();
    }
    if (mode == L"watch" && argc >= 4) {
        return watch_for_window(argv[2], _wtoi(argv[3]),
                                argc >= 5 && argv[4] == std::wstring(L"row"));
    }
    if (mode == L"hold-clipboard" && argc >= 3) {
        return hold_clipboard(_wtoi(argv[2]));
    }
    if (mode == L"windows") {
        EnumWindows(print_window, 0);
        std::fflush(stdout);
        return 0;
    }
    return 2;
}
