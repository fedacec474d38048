#pragma once
// The platform cut: every Win32 call the actions make, mirrored closely so the
// call sequences, values, failure paths and release orders stay in portable
// code. Never include <windows.h> here; the Win32 implementation lives in
// win32/ and the simulated desktop in tests/support.

#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cua_actions::windows {

// Opaque handle (HMONITOR, HWND, HDC, HGLOBAL, ...). 0 is "no handle".
using Handle = std::uint64_t;

struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// Win32 constants the logic relies on, with the values the system fixes.
inline constexpr std::uint32_t kMonitorInfoFlagPrimary = 1;  // MONITORINFOF_PRIMARY
inline constexpr int kSmCxScreen = 0;                        // SM_CXSCREEN
inline constexpr int kSmCyScreen = 1;                        // SM_CYSCREEN

inline constexpr std::uint32_t kInputMouse = 0;     // INPUT_MOUSE
inline constexpr std::uint32_t kInputKeyboard = 1;  // INPUT_KEYBOARD

inline constexpr std::uint32_t kMouseEventMove = 0x0001;
inline constexpr std::uint32_t kMouseEventLeftDown = 0x0002;
inline constexpr std::uint32_t kMouseEventLeftUp = 0x0004;
inline constexpr std::uint32_t kMouseEventRightDown = 0x0008;
inline constexpr std::uint32_t kMouseEventRightUp = 0x0010;
inline constexpr std::uint32_t kMouseEventWheel = 0x0800;
inline constexpr std::int32_t kWheelDelta = 120;

inline constexpr std::uint32_t kKeyEventExtendedKey = 0x0001;
inline constexpr std::uint32_t kKeyEventKeyUp = 0x0002;
inline constexpr std::uint32_t kKeyEventUnicode = 0x0004;

// One INPUT record: the mouse or the keyboard half is used according to `type`.
struct MouseInput {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::int32_t mouse_data = 0;  // wheel delta, signed as the system reads it
    std::uint32_t flags = 0;
    std::uint32_t time = 0;
    friend bool operator==(const MouseInput&, const MouseInput&) = default;
};

struct KeyboardInput {
    std::uint16_t vk = 0;
    std::uint16_t scan = 0;
    std::uint32_t flags = 0;
    std::uint32_t time = 0;
    friend bool operator==(const KeyboardInput&, const KeyboardInput&) = default;
};

struct InputRecord {
    std::uint32_t type = kInputMouse;
    MouseInput mouse;
    KeyboardInput keyboard;
    friend bool operator==(const InputRecord&, const InputRecord&) = default;

    static InputRecord mouse_event(std::uint32_t flags, std::int32_t data = 0) {
        InputRecord record;
        record.type = kInputMouse;
        record.mouse.flags = flags;
        record.mouse.mouse_data = data;
        return record;
    }
    static InputRecord key_event(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags) {
        InputRecord record;
        record.type = kInputKeyboard;
        record.keyboard.vk = vk;
        record.keyboard.scan = scan;
        record.keyboard.flags = flags;
        return record;
    }
};

struct MonitorInfo {
    Rect monitor;  // rcMonitor
    Rect work;     // rcWork
    std::uint32_t flags = 0;
};

// DPI_AWARENESS_CONTEXT values the DPI step asks for (pseudo-handles the system fixes).
enum class DpiAwarenessContext : std::int64_t {
    per_monitor_aware = -3,     // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
    per_monitor_aware_v2 = -4,  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
};

// How a call the system may lack went: absent from the system, accepted, or
// refused (the code then in get_last_error).
enum class OptionalCall { unavailable, accepted, refused };

inline constexpr double kDefaultDpi = 96.0;  // USER_DEFAULT_SCREEN_DPI: scale 1

// --- child processes: types ---------------------------------------------------
inline constexpr std::uint32_t kCreateNoWindow = 0x08000000;  // CREATE_NO_WINDOW

// One child program, started with piped standard output and error. Environment
// and working directory are this process's own; so is standard input unless
// `standard_input` is given.
struct ChildProcessLaunch {
    std::string program;                 // full path, as search_path found it
    std::vector<std::string> arguments;  // after the program name; quoted by the platform
    std::uint32_t creation_flags = 0;
    // When set, the child reads these bytes from a pipe, then end-of-file.
    std::optional<std::string> standard_input;
};

// A started child (`child` != 0) or the platform's error text.
struct ChildStart {
    Handle child = 0;
    std::string error;
};

enum class ChildState { running, exited, failed };

struct ChildStatus {
    ChildState state = ChildState::failed;
    std::uint32_t exit_code = 0;  // ChildState::exited only
    std::string error;            // ChildState::failed only
};

// The bytes read from the child's two pipes, or the platform's error text.
struct ChildOutput {
    bool ok = false;
    std::string out;
    std::string err;
    std::string error;
};

// --- overlay window, clipboard, input method: types ----------------------------
inline constexpr std::uint32_t kWsPopup = 0x80000000;            // WS_POPUP
inline constexpr std::uint32_t kWsExTopmost = 0x00000008;        // WS_EX_TOPMOST
inline constexpr std::uint32_t kWsExTransparent = 0x00000020;    // WS_EX_TRANSPARENT
inline constexpr std::uint32_t kWsExToolWindow = 0x00000080;     // WS_EX_TOOLWINDOW
inline constexpr std::uint32_t kWsExLayered = 0x00080000;        // WS_EX_LAYERED
inline constexpr std::uint32_t kWsExNoActivate = 0x08000000;     // WS_EX_NOACTIVATE
inline constexpr std::uint32_t kLwaColorKey = 0x00000001;        // LWA_COLORKEY
inline constexpr int kSwShowNoActivate = 4;                      // SW_SHOWNOACTIVATE
inline constexpr std::uint32_t kErrorClassAlreadyExists = 1410;  // ERROR_CLASS_ALREADY_EXISTS

// CreateWindowExW arguments; texts are UTF-8 here and UTF-16 at the platform.
struct CreateWindowParams {
    std::uint32_t ex_style = 0;
    std::string class_name;
    std::string title;
    std::uint32_t style = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    Handle parent = 0;
    Handle menu = 0;
    Handle instance = 0;
};

inline constexpr std::uint32_t kCfUnicodeText = 13;     // CF_UNICODETEXT
inline constexpr std::uint32_t kGmemMoveable = 0x0002;  // GMEM_MOVEABLE

// The part of GUITHREADINFO the input-method check reads.
struct GuiThreadInfo {
    Handle active = 0;  // hwndActive
    Handle focus = 0;   // hwndFocus
};

inline constexpr std::uint32_t kWmImeControl = 0x0283;      // WM_IME_CONTROL
inline constexpr std::uint64_t kImcGetOpenStatus = 0x0005;  // IMC_GETOPENSTATUS
inline constexpr std::uint32_t kSmtoAbortIfHung = 0x0002;   // SMTO_ABORTIFHUNG

// --- screen capture: types --------------------------------------------------------
inline constexpr std::uint32_t kSrcCopy = 0x00CC0020;       // SRCCOPY
inline constexpr std::uint32_t kBiRgb = 0;                  // BI_RGB
inline constexpr std::uint32_t kDibRgbColors = 0;           // DIB_RGB_COLORS
inline constexpr std::uint32_t kBitmapInfoHeaderSize = 40;  // sizeof(BITMAPINFOHEADER)

// BITMAPINFOHEADER, field for field; the colour table is never used.
struct BitmapInfoHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: rows top-down
    std::uint16_t planes = 0;
    std::uint16_t bit_count = 0;
    std::uint32_t compression = 0;
    std::uint32_t size_image = 0;
    std::int32_t x_pels_per_meter = 0;
    std::int32_t y_pels_per_meter = 0;
    std::uint32_t clr_used = 0;
    std::uint32_t clr_important = 0;
    friend bool operator==(const BitmapInfoHeader&, const BitmapInfoHeader&) = default;
};

// --- application windows, shell and folders: types ------------------------------
inline constexpr std::uint32_t kGwHwndNext = 2;          // GW_HWNDNEXT
inline constexpr int kGwlExStyle = -20;                  // GWL_EXSTYLE
inline constexpr int kSwShowNormal = 1;                  // SW_SHOWNORMAL
inline constexpr int kSwShowMaximized = 3;               // SW_SHOWMAXIMIZED
inline constexpr int kSwShow = 5;                        // SW_SHOW
inline constexpr int kSwRestore = 9;                     // SW_RESTORE
inline constexpr std::uint32_t kSwpNoSize = 0x0001;      // SWP_NOSIZE
inline constexpr std::uint32_t kSwpNoMove = 0x0002;      // SWP_NOMOVE
inline constexpr std::uint32_t kSwpNoZOrder = 0x0004;    // SWP_NOZORDER
inline constexpr std::uint32_t kSwpShowWindow = 0x0040;  // SWP_SHOWWINDOW
inline constexpr std::uint16_t kVkMenuKey = 0x12;        // VK_MENU (Alt)

// GetWindowTextW into a buffer of `buffer_units`: the returned length (0 or
// less: no title) and the units copied, without the terminating NUL.
struct WindowText {
    int length = 0;
    std::u16string text;
};

// GetWindowThreadProcessId: the owning thread (0 when none) and process.
struct WindowThreadProcess {
    std::uint32_t thread_id = 0;
    std::uint32_t process_id = 0;
};

// One entry of a folder listing (FindFirstFileExW / FindNextFileW). Paths stay
// UTF-16 so callers can tell names that are not valid Unicode.
struct FolderEntry {
    bool read_failed = false;  // the listing could not read this entry
    std::u16string path;       // folder path, a backslash, the entry's name
    bool is_folder = false;    // links followed to what they name
};

// --- folder identity, file attributes and the registry: types -------------------
// What a folder is on disk, whatever path text reached it (links followed):
// the volume serial number and file index of BY_HANDLE_FILE_INFORMATION.
struct FolderIdentity {
    std::uint32_t volume_serial = 0;
    std::uint64_t file_index = 0;
    friend auto operator<=>(const FolderIdentity&, const FolderIdentity&) = default;
};

inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY

enum class RegistryRoot { local_machine, current_user };  // HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER

// --- more buttons, the horizontal wheel, keyboard layouts: types -----------------
inline constexpr std::uint32_t kMouseEventMiddleDown = 0x0020;  // MOUSEEVENTF_MIDDLEDOWN
inline constexpr std::uint32_t kMouseEventMiddleUp = 0x0040;    // MOUSEEVENTF_MIDDLEUP
inline constexpr std::uint32_t kMouseEventXDown = 0x0080;       // MOUSEEVENTF_XDOWN
inline constexpr std::uint32_t kMouseEventXUp = 0x0100;         // MOUSEEVENTF_XUP
inline constexpr std::uint32_t kMouseEventHWheel = 0x1000;      // MOUSEEVENTF_HWHEEL
inline constexpr std::int32_t kXButton1 = 1;                    // XBUTTON1 (back)
inline constexpr std::int32_t kXButton2 = 2;                    // XBUTTON2 (forward)
// VkKeyScanExW's high byte: the shift state that types the character.
inline constexpr std::uint8_t kKeyScanShift = 1;
inline constexpr std::uint8_t kKeyScanControl = 2;
inline constexpr std::uint8_t kKeyScanAlt = 4;
// --- windows as structure: window classes, processes, accessibility: types ------
inline constexpr std::uint32_t kGwChild = 5;              // GW_CHILD
inline constexpr int kGwlStyle = -16;                     // GWL_STYLE
inline constexpr int kSwMinimize = 6;                     // SW_MINIMIZE
inline constexpr std::uint32_t kWmNull = 0x0000;          // WM_NULL
inline constexpr std::uint32_t kWmClose = 0x0010;         // WM_CLOSE
inline constexpr std::int32_t kObjidClient = -4;          // OBJID_CLIENT
inline constexpr std::int32_t kChildIdSelf = 0;           // CHILDID_SELF
inline constexpr std::uint32_t kWsDisabled = 0x08000000;  // WS_DISABLED

// One entry of AccessibleChildren: a full object (`object` != 0, owned by the
// caller: release_accessible) or a simple element `child_id` of the parent.
struct AccessibleChild {
    Handle object = 0;
    std::int32_t child_id = 0;
};

// One entry of a list box, read with LB_GETTEXT, LB_GETITEMRECT (put on screen) and
// LB_GETSEL: oleacc does not expose list-box items everywhere.
struct ListBoxItem {
    std::string text;
    Rect rect;
    bool selected = false;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // --- clock ---------------------------------------------------------------
    // Blocks the calling thread for at least `ms` milliseconds.
    virtual void sleep_ms(std::uint32_t ms) = 0;
    // Monotonic clock, never the wall clock.
    virtual std::chrono::nanoseconds monotonic_now() = 0;

    // --- DPI and displays ----------------------------------------------------
    virtual bool set_process_dpi_aware() = 0;  // SetProcessDPIAware
    // SetProcessDpiAwarenessContext, looked up at run time: systems before
    // Windows 10 1607 lack it.
    virtual OptionalCall set_process_dpi_awareness_context(DpiAwarenessContext context) = 0;
    // GetDpiForMonitor(MDT_EFFECTIVE_DPI) of shcore, looked up at run time: the
    // horizontal DPI, or nothing when the system lacks the call or it fails.
    virtual std::optional<std::uint32_t> get_dpi_for_monitor(Handle monitor) = 0;
    virtual std::uint32_t get_last_error() = 0;  // GetLastError of this thread
    // EnumDisplayMonitors(NULL, NULL, ...): the monitors in enumeration order.
    virtual std::vector<Handle> enum_display_monitors() = 0;
    virtual std::optional<MonitorInfo> get_monitor_info(Handle monitor) = 0;  // GetMonitorInfoW
    virtual int get_system_metrics(int index) = 0;

    // --- cursor and injected input ------------------------------------------
    virtual bool set_cursor_pos(std::int32_t x, std::int32_t y) = 0;
    virtual std::optional<Point> get_cursor_pos() = 0;
    // SendInput: returns the number of records the system accepted.
    virtual std::uint32_t send_input(std::span<const InputRecord> records) = 0;

    // --- environment ---------------------------------------------------------
    // The variable's value, or nothing when unset or not valid Unicode.
    virtual std::optional<std::string> get_env(const std::string& name) = 0;

    // --- diagnostics ---------------------------------------------------------
    // Writes one tagged line plus a line feed to standard error as bytes; dropped
    // when the process has no standard error handle.
    virtual void write_stderr_line(std::string_view line) = 0;

    // --- child processes -----------------------------------------------------
    // Full path of `file_name` (with its extension) in the absolute folders of
    // PATH, in order. Never the current directory: a program planted there must
    // not run.
    virtual std::optional<std::string> search_path(const std::string& file_name) = 0;
    // CreateProcessW with both output pipes, only the handles the child needs
    // (explicit inherited-handle list), assigned to a fresh job object before it
    // runs. The pipes are drained from the start, so a chatty child never blocks.
    virtual ChildStart start_child_process(const ChildProcessLaunch& launch) = 0;
    // WaitForSingleObject(process, 0) and GetExitCodeProcess.
    virtual ChildStatus check_child_exit(Handle child) = 0;
    // TerminateJobObject: the child and everything it started.
    virtual bool terminate_child_tree(Handle child) = 0;
    // WaitForSingleObject(process, INFINITE).
    virtual bool wait_child_exit(Handle child) = 0;
    // For an exited child: the bytes of both pipes up to their end-of-file, or,
    // when something the child started still holds a write end, what arrived
    // before `grace_ms` ran out.
    virtual ChildOutput collect_child_output(Handle child, std::uint32_t grace_ms) = 0;
    // Releases the process, job and pipe handles; the processes keep running.
    virtual void close_child_process(Handle child) = 0;

    // --- threads ---------------------------------------------------------------
    // CreateThread running `body`, with the thread handle closed at once: the
    // thread is detached and never joined. False when no thread was created
    // (the code is then in get_last_error).
    virtual bool start_detached_thread(std::function<void()> body) = 0;

    // --- code pages --------------------------------------------------------------
    // GetOEMCP: the code page console programs write redirected output in.
    virtual std::uint32_t get_oem_code_page() = 0;
    // MultiByteToWideChar(code_page, 0, ...) of all of `bytes`; bytes the code
    // page does not map become its default character. Nothing when the call
    // fails (an unknown code page, for one).
    virtual std::optional<std::u16string> multi_byte_to_wide_char(std::uint32_t code_page,
                                                                  std::string_view bytes) = 0;

    // --- overlay window ----------------------------------------------------------
    // GetModuleHandleW(NULL); nothing on failure (code in get_last_error).
    virtual std::optional<Handle> get_module_handle() = 0;
    // FormatMessageW of a system error code, line breaks at the end removed;
    // nothing when the system has no message for it.
    virtual std::optional<std::string> format_system_message(std::uint32_t code) = 0;
    // RegisterClassW of the click indicator class: no class style, the
    // indicator's window procedure (which paints the ring), no extra bytes, no
    // icon, cursor, background brush or menu. The atom, 0 on failure.
    virtual std::uint16_t register_overlay_class(const std::string& class_name,
                                                 Handle instance) = 0;
    virtual Handle create_window_ex(const CreateWindowParams& launch) = 0;  // 0 on failure
    virtual bool set_layered_window_attributes(Handle window, std::uint32_t color_key,
                                               std::uint8_t alpha, std::uint32_t flags) = 0;
    virtual bool show_window(Handle window, int command) = 0;  // true: it was visible before
    virtual bool update_window(Handle window) = 0;
    virtual bool destroy_window(Handle window) = 0;

    // --- clipboard and global memory ----------------------------------------------
    virtual bool open_clipboard(Handle owner) = 0;
    virtual bool close_clipboard() = 0;
    virtual bool empty_clipboard() = 0;
    // 0 starts the enumeration; 0 back ends it.
    virtual std::uint32_t enum_clipboard_formats(std::uint32_t format) = 0;
    virtual Handle get_clipboard_data(std::uint32_t format) = 0;
    // On success the clipboard owns `memory`; 0 on failure.
    virtual Handle set_clipboard_data(std::uint32_t format, Handle memory) = 0;
    virtual std::uint32_t register_clipboard_format(const std::string& name) = 0;  // 0 on failure
    virtual Handle global_alloc(std::uint32_t flags, std::size_t bytes) = 0;
    // 0 when `memory` is not a global memory block.
    virtual std::size_t global_size(Handle memory) = 0;
    virtual void* global_lock(Handle memory) = 0;   // nullptr on failure
    virtual bool global_unlock(Handle memory) = 0;  // true while still locked
    virtual Handle global_free(Handle memory) = 0;  // 0 on success

    // --- input method ---------------------------------------------------------------
    virtual Handle get_foreground_window() = 0;
    virtual Handle imm_get_context(Handle window) = 0;  // 0: no input context
    virtual bool imm_get_open_status(Handle context) = 0;
    virtual bool imm_release_context(Handle window, Handle context) = 0;
    // GetGUIThreadInfo; thread 0 is the foreground thread.
    virtual std::optional<GuiThreadInfo> get_gui_thread_info(std::uint32_t thread_id) = 0;
    virtual Handle imm_get_default_ime_wnd(Handle window) = 0;
    // SendMessageTimeoutW: the message's result, or nothing when it failed or
    // timed out.
    virtual std::optional<std::uint64_t> send_message_timeout(Handle window, std::uint32_t message,
                                                              std::uint64_t wparam,
                                                              std::int64_t lparam,
                                                              std::uint32_t flags,
                                                              std::uint32_t timeout_ms) = 0;

    // --- screen capture ----------------------------------------------------------------
    virtual Handle get_dc(Handle window) = 0;  // GetDC; 0 = no context
    virtual bool release_dc(Handle window, Handle dc) = 0;
    virtual Handle create_compatible_dc(Handle dc) = 0;  // 0 on failure
    virtual Handle create_compatible_bitmap(Handle dc, std::int32_t width,
                                            std::int32_t height) = 0;  // 0 on failure
    // The previously selected object; 0 on failure.
    virtual Handle select_object(Handle dc, Handle object) = 0;
    virtual bool bit_blt(Handle dest, std::int32_t x, std::int32_t y, std::int32_t width,
                         std::int32_t height, Handle source, std::int32_t source_x,
                         std::int32_t source_y, std::uint32_t rop) = 0;
    // GetDIBits into `bits` with the header as its BITMAPINFO (no colour table);
    // the number of lines copied, 0 on failure.
    virtual int get_di_bits(Handle dc, Handle bitmap, std::uint32_t start, std::uint32_t lines,
                            std::span<std::uint8_t> bits, BitmapInfoHeader& info,
                            std::uint32_t usage) = 0;
    virtual bool delete_object(Handle object) = 0;
    virtual bool delete_dc(Handle dc) = 0;

    // --- application windows, shell and folders ------------------------------------
    virtual Handle get_top_window(Handle parent) = 0;                     // GetTopWindow
    virtual Handle get_window(Handle window, std::uint32_t command) = 0;  // GetWindow
    virtual bool is_window_visible(Handle window) = 0;
    virtual WindowText get_window_text(Handle window, int buffer_units) = 0;
    virtual std::int32_t get_window_long(Handle window, int index) = 0;  // GetWindowLongW
    virtual WindowThreadProcess get_window_thread_process_id(Handle window) = 0;
    virtual std::optional<Rect> get_window_rect(Handle window) = 0;
    virtual bool is_iconic(Handle window) = 0;
    virtual bool is_zoomed(Handle window) = 0;
    virtual bool set_window_pos(Handle window, Handle insert_after, std::int32_t x, std::int32_t y,
                                std::int32_t cx, std::int32_t cy, std::uint32_t flags) = 0;
    virtual bool set_foreground_window(Handle window) = 0;
    virtual bool bring_window_to_top(Handle window) = 0;
    virtual Handle set_focus(Handle window) = 0;  // the previously focused window
    virtual bool attach_thread_input(std::uint32_t attach_from, std::uint32_t attach_to,
                                     bool attach) = 0;
    virtual std::uint32_t get_current_thread_id() = 0;
    // ShellExecuteW; texts are UTF-8 here. The returned value as a signed
    // integer: greater than 32 means the shell accepted the request.
    virtual std::int64_t shell_execute(Handle owner, const std::string& verb,
                                       const std::string& file,
                                       const std::optional<std::string>& parameters,
                                       const std::optional<std::string>& directory,
                                       int show_command) = 0;
    // The folder's entries in the order the file system returns them, without
    // "." and ".."; nothing when the listing cannot be started.
    virtual std::optional<std::vector<FolderEntry>> list_folder(const std::u16string& path) = 0;
    // Whether the path's metadata can be read at all (GetFileAttributesExW).
    virtual bool path_metadata_readable(const std::u16string& path) = 0;

    // --- folder identity, file attributes and the registry ----------------------------
    // CreateFileW with FILE_FLAG_BACKUP_SEMANTICS (links followed) and
    // GetFileInformationByHandle; nothing when the path cannot be opened or is
    // not a folder.
    virtual std::optional<FolderIdentity> get_folder_identity(const std::u16string& path) = 0;
    // GetFileAttributesW; nothing when the path does not exist or cannot be read.
    virtual std::optional<std::uint32_t> get_file_attributes(const std::u16string& path) = 0;
    // RegGetValueW of the key's default value when it is REG_SZ or
    // REG_EXPAND_SZ, unexpanded; nothing when absent or not valid Unicode.
    virtual std::optional<std::string> get_registry_string(RegistryRoot root,
                                                           const std::string& subkey) = 0;

    // --- more buttons, the horizontal wheel, keyboard layouts ------------------------
    virtual std::uint32_t get_double_click_time() = 0;  // GetDoubleClickTime, in ms
    // GetKeyboardLayout of a thread (0: the calling thread).
    virtual Handle get_keyboard_layout(std::uint32_t thread_id) = 0;
    // VkKeyScanExW: virtual key in the low byte, shift state in the high byte;
    // -1 when no key of the layout types the character.
    virtual std::int16_t vk_key_scan_ex(char16_t character, Handle layout) = 0;
    // --- windows as structure: window classes, processes, accessibility ---------------
    virtual std::string get_class_name(Handle window) = 0;  // GetClassNameW; empty on failure
    virtual bool is_window(Handle window) = 0;              // IsWindow
    // OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION) and QueryFullProcessImageNameW.
    virtual std::optional<std::string> get_process_image_name(std::uint32_t process_id) = 0;
    // SendMessageTimeoutW(WM_GETTEXT, SMTO_ABORTIFHUNG) into a buffer of `buffer_units`:
    // another process's control text (GetWindowTextW gives that empty). Nothing when
    // the window did not answer in time.
    virtual std::optional<std::u16string> get_control_text(Handle window, int buffer_units,
                                                           std::uint32_t timeout_ms) = 0;
    virtual bool post_message(Handle window, std::uint32_t message, std::uint64_t wparam,
                              std::int64_t lparam) = 0;  // PostMessageW
    // CoInitializeEx (apartment-threaded) on the calling thread: true when the
    // caller must call co_uninitialize on the same thread.
    virtual bool co_initialize() = 0;
    virtual void co_uninitialize() = 0;
    // AccessibleObjectFromWindow(IID_IAccessible): an object the caller owns, 0 on failure.
    virtual Handle accessible_object_from_window(Handle window, std::int32_t object_id) = 0;
    virtual void release_accessible(Handle object) = 0;  // IAccessible::Release
    // accChildCount and AccessibleChildren of all of them; nothing on failure.
    virtual std::optional<std::vector<AccessibleChild>> accessible_children(Handle object) = 0;
    virtual Handle window_from_accessible_object(Handle object) = 0;  // 0 on failure
    // The IAccessible properties of the object itself (kChildIdSelf) or a simple child.
    virtual std::optional<std::string> get_acc_name(Handle object, std::int32_t child) = 0;
    virtual std::optional<std::string> get_acc_value(Handle object, std::int32_t child) = 0;
    virtual std::optional<std::uint32_t> get_acc_role(Handle object, std::int32_t child) = 0;
    virtual std::optional<std::uint32_t> get_acc_state(Handle object, std::int32_t child) = 0;
    // accLocation as a rectangle in physical screen pixels.
    virtual std::optional<Rect> acc_location(Handle object, std::int32_t child) = 0;
    virtual bool put_acc_value(Handle object, std::int32_t child, const std::string& value) = 0;
    // LB_GETCOUNT and LB_GETTOPINDEX by SendMessageTimeoutW; nothing when it did not answer.
    virtual std::optional<int> list_box_count(Handle window, std::uint32_t timeout_ms) = 0;
    virtual std::optional<int> list_box_top_index(Handle window, std::uint32_t timeout_ms) = 0;
    virtual std::optional<ListBoxItem> list_box_item(Handle window, int index,
                                                     std::uint32_t timeout_ms) = 0;

    // (Further groups follow the same pattern: one section per Win32 area.)
};

// The active platform: the Win32 implementation in the executable, the
// simulated desktop in tests (installed with set_platform).
Platform& platform();
// Installs `replacement` (not owned). There is no built-in default: after
// nullptr, platform() aborts until another is installed.
void set_platform(Platform* replacement);

// Owns a started child's handles; the processes themselves are left alone.
class ScopedChildProcess {
  public:
    explicit ScopedChildProcess(Handle child) : child_(child) {}
    ~ScopedChildProcess() {
        if (child_ != 0) {
            platform().close_child_process(child_);
        }
    }
    ScopedChildProcess(const ScopedChildProcess&) = delete;
    ScopedChildProcess& operator=(const ScopedChildProcess&) = delete;
    Handle get() const { return child_; }

  private:
    Handle child_;
};

}  // namespace cua_actions::windows
