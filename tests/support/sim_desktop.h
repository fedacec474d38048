#pragma once
// A simulated Windows desktop behind the platform cut: state, not call counts.
// Virtual time advances only through sleep_ms, so tests assert exact delays and
// run instantly. Every operation can be told to fail.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cua_actions/windows/platform.h"

namespace sim {

using cua_actions::windows::Handle;
using cua_actions::windows::InputRecord;
using cua_actions::windows::MonitorInfo;
using cua_actions::windows::Point;
using cua_actions::windows::Rect;

struct SimMonitor {
    Rect rect;
    std::uint32_t flags = 0;
    bool info_fails = false;  // GetMonitorInfoW refuses this monitor
    // GetDpiForMonitor's effective DPI; nothing: the call fails for it.
    std::optional<std::uint32_t> dpi;
};

// How SetProcessDpiAwarenessContext answers one context.
struct SimDpiContextAnswer {
    cua_actions::windows::OptionalCall result = cua_actions::windows::OptionalCall::accepted;
    std::uint32_t error_code = 0;  // GetLastError after a refusal
};

// What reached the desktop, in order, stamped with virtual milliseconds.
struct SimEvent {
    enum class Kind { cursor, input };
    Kind kind = Kind::cursor;
    std::uint64_t at_ms = 0;
    Point cursor;           // Kind::cursor: where SetCursorPos put it
    InputRecord input;      // Kind::input: one record of a SendInput call
    std::size_t batch = 0;  // index of the SendInput call the record came with
};

// Switches that make one operation fail.
struct SimFailures {
    bool set_process_dpi_aware = false;
    std::uint32_t dpi_error_code = 0;  // GetLastError after the failed DPI call
    bool set_cursor_pos = false;
    bool set_cursor_pos_throws = false;  // an exception escapes the call
    bool send_input = false;             // accepts nothing
    // Accepts at most this many records of each call (the rest is dropped).
    std::optional<std::size_t> send_input_accepts;
};

// --- child processes ---------------------------------------------------------
// What one scripted child does once started.
struct SimChildScript {
    std::optional<std::uint64_t> exits_after_ms = 0;  // virtual time; nullopt: never by itself
    std::uint32_t exit_code = 0;
    std::string out;  // bytes written to standard output
    std::string err;  // bytes written to standard error
    // Something the child started keeps the pipes' write ends: end-of-file
    // never comes, so collecting runs into the grace period.
    bool pipes_held = false;
};

struct SimChild {
    Handle handle = 0;
    cua_actions::windows::ChildProcessLaunch launch;
    SimChildScript script;
    std::uint64_t started_ms = 0;
    std::optional<std::uint64_t> terminated_ms;  // when the tree was terminated
    int exit_checks = 0;
    int waits = 0;
    int collects = 0;
    bool closed = false;
};

struct SimChildFailures {
    std::optional<std::string> start;    // CreateProcessW fails with this text
    std::optional<std::string> check;    // the exit check fails with this text
    std::optional<std::string> collect;  // collecting fails with this text
    bool terminate = false;              // TerminateJobObject refuses
};

// --- input actions: threads, overlay window, clipboard, input method ----------
// Fails every call, or only the listed calls of one operation (0-based).
struct SimFailPlan {
    bool always = false;
    std::set<std::size_t> calls;
    std::size_t seen = 0;
    bool next() {
        const std::size_t index = seen++;
        return always || calls.count(index) != 0;
    }
};

struct SimOverlayWindow {
    Handle handle = 0;
    cua_actions::windows::CreateWindowParams window_params;
    std::uint64_t created_ms = 0;
    std::optional<std::uint64_t> shown_ms;
    int show_command = -1;
    bool layered = false;  // SetLayeredWindowAttributes succeeded
    std::uint32_t color_key = 0;
    std::uint8_t alpha = 0;
    std::uint32_t layered_flags = 0;
    int paints = 0;  // UpdateWindow paints a shown window once
    std::optional<std::uint64_t> destroyed_ms;
};

// Each set value makes the operation fail with that error code.
struct SimOverlayFailures {
    std::optional<std::uint32_t> start_thread;
    std::optional<std::uint32_t> get_module_handle;
    std::optional<std::uint32_t> register_class;
    std::optional<std::uint32_t> create_window;
    std::optional<std::uint32_t> set_layered;
    bool destroy_window = false;
};

struct SimClipboardEntry {
    std::uint32_t format = 0;
    Handle data = 0;
};

struct SimGlobalBlock {
    std::vector<std::byte> bytes;
    int locks = 0;
    bool owned_by_clipboard = false;
};

struct SimClipboardFailures {
    SimFailPlan open;  // another program holds the clipboard
    SimFailPlan empty;
    SimFailPlan set;
    SimFailPlan alloc;
    SimFailPlan lock;
    SimFailPlan register_format;
};

// A window's input-method state. Only windows of our own process hand out an
// input context; others answer through their default IME window.
struct SimImeWindow {
    bool own_process = false;
    bool open = false;
    bool has_default_ime_window = true;
    bool hung = false;  // its thread does not answer messages
};

// --- screen capture ------------------------------------------------------------
// The screen's pixels: a BGRX frame (rows top-down) placed at left, top of the
// virtual screen; everything outside it reads as black.
struct SimFrame {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> bgrx;
};

// One live GDI object of the handle table.
struct SimGdiObject {
    enum class Kind { screen_dc, memory_dc, bitmap };
    Kind kind = Kind::bitmap;
    Handle selected = 0;             // memory_dc: the object selected into it
    std::int32_t width = 0;          // bitmap
    std::int32_t height = 0;         // bitmap
    std::vector<std::uint8_t> bgrx;  // bitmap pixels, rows top-down
};

struct SimCaptureFailures {
    bool get_dc = false;
    bool create_compatible_dc = false;
    bool create_compatible_bitmap = false;
    bool select_object = false;
    bool bit_blt = false;
    bool get_di_bits = false;
};

// The bitmap every new memory context starts with, as on Windows: shared,
// never deleted, not in the handle table.
inline constexpr Handle kSimStockBitmap = 0xB17;

// --- application windows, shell and folders (sim_apps.cpp) ----------------------
// One top-level window of another program. It exists from `appears_ms` on
// (a launched program's window shows up some time after the launch).
struct SimAppWindow {
    Handle handle = 0;
    std::u16string title;
    bool visible = true;
    std::uint32_t ex_style = 0;
    std::uint32_t thread_id = 0;
    std::uint32_t process_id = 0;
    Rect rect;           // current outer rectangle
    Rect restored_rect;  // where SW_RESTORE puts a maximized window back
    bool minimized = false;
    bool maximized = false;
    std::uint64_t appears_ms = 0;
    bool rect_fails = false;          // GetWindowRect refuses it
    bool maximize_minimizes = false;  // SW_SHOWMAXIMIZED minimizes it instead
    std::string class_name;           // GetClassNameW
};

// What the shell does with one file name: accept it with `result` and
// optionally open a window `window_after_ms` later.
struct SimShellProgram {
    std::int64_t result = 42;
    std::optional<SimAppWindow> window;
    std::uint64_t window_after_ms = 0;
};

struct SimShellCall {
    std::string verb;
    std::string file;
    std::optional<std::string> parameters;
    std::optional<std::string> directory;
    int show_command = 0;
    std::uint64_t at_ms = 0;
};

// One window-manager call made on an application window, in order.
struct SimWindowCall {
    std::string call;  // "show", "set_pos", "bring_to_top", "set_foreground", "set_focus"
    Handle window = 0;
    std::int64_t a = 0;  // show: command; set_pos: flags
    Rect rect;           // set_pos: x, y, x + cx, y + cy
    std::uint64_t at_ms = 0;
};

struct SimAttachCall {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    bool attach = false;
    std::uint64_t at_ms = 0;
};

struct SimFolderItem {
    std::u16string name;
    bool is_folder = false;
    bool read_fails = false;  // the listing fails on this entry
    // A folder link: the path it names (followed by listings, attributes and
    // identities, as Windows follows a directory symlink or junction).
    std::optional<std::u16string> link_target;
};

struct SimFolder {
    std::vector<SimFolderItem> items;  // in listing order
    bool list_fails = false;
    // What the folder is on disk; handed out from a counter on first use
    // unless a test sets it.
    std::optional<cua_actions::windows::FolderIdentity> identity;
    bool identity_fails = false;  // opening the folder for its identity fails
};

// --- windows as structure: child controls and accessibility (sim_structure.cpp) ---
// A simple accessible element of a control (child id 1, 2, ... in order).
struct SimElement {
    std::uint32_t role = 0;
    std::string name;
    std::string value;
    std::uint32_t state = 0;
    Rect rect;
};

// A child window with its accessible client object. Its thread is its
// top-level window's unless `thread_id` is set.
struct SimControl {
    Handle handle = 0;
    Handle parent = 0;  // a top-level window or another control
    std::string class_name;
    std::u16string text;  // WM_GETTEXT
    std::uint32_t thread_id = 0;
    std::optional<std::uint32_t> role;  // nothing: get_accRole fails
    std::optional<std::string> name;    // nothing: get_accName fails
    std::optional<std::string> value;   // nothing: get_accValue fails
    std::uint32_t state = 0;
    Rect rect;
    bool editable = false;          // put_accValue sets value and text
    bool accessible_fails = false;  // AccessibleObjectFromWindow refuses it
    std::vector<SimElement> elements;
    int value_changes = 0;  // put_accValue calls that changed it
    // A list box's entries (LB_GETTEXT), each item_height high from the top of `rect`,
    // scrolled to `top_index`.
    std::vector<std::string> list_items;
    int top_index = 0;
    std::int32_t item_height = 16;
};

// One live accessible object: the client of `window` (element 0) or, for a
// full child object, one element of it.
struct SimAccessible {
    Handle window = 0;
};

inline constexpr std::uint32_t kSimVolumeSerial = 0x5A17C0DE;

class SimDesktop final : public cua_actions::windows::Platform {
  public:
    SimDesktop();  // one 1920x1080 primary monitor, cursor at 0,0, t = 0

    // --- state the tests arrange and inspect (guard with lock() if threads run) ---
    std::vector<SimMonitor> monitors;
    int screen_cx = 1920;  // SM_CXSCREEN
    int screen_cy = 1080;  // SM_CYSCREEN
    Point cursor;
    std::vector<SimEvent> events;
    std::map<std::string, std::string> environment;
    SimFailures fail;
    std::uint64_t now_ns = 0;
    int dpi_calls = 0;  // SetProcessDPIAware
    // SetProcessDpiAwarenessContext: absent by default, as on systems before
    // Windows 10 1607; an answer per context once a test makes it present.
    bool has_dpi_awareness_context = false;
    std::map<cua_actions::windows::DpiAwarenessContext, SimDpiContextAnswer> dpi_context_answers;
    std::vector<cua_actions::windows::DpiAwarenessContext> dpi_context_requests;
    bool has_get_dpi_for_monitor = true;  // false: shcore lacks GetDpiForMonitor
    std::size_t send_input_calls = 0;
    std::vector<std::string> stderr_lines;

    // --- child processes (sim_process.cpp) ---
    // file name -> full path, what search_path finds on PATH
    std::map<std::string, std::string> path_programs;
    // Scripts for the next children, consumed in start order; a child started
    // with none left exits at once without output.
    std::vector<SimChildScript> child_scripts;
    std::vector<SimChild> children;  // every child started, in order
    SimChildFailures child_fail;
    // The live children: started, not closed.
    std::size_t open_children() const;

    // --- code pages (sim_code_page.cpp) ---
    std::uint32_t oem_code_page = 437;        // GetOEMCP; 437 is the one code page converted
    bool code_page_conversion_fails = false;  // MultiByteToWideChar refuses

    // --- screen capture (sim_capture.cpp) ---
    SimFrame screen_frame;
    std::map<Handle, SimGdiObject> gdi_objects;  // live objects: a leak stays here
    std::vector<std::string> gdi_calls;          // each call with its arguments, in order
    SimCaptureFailures capture_fail;
    Handle next_gdi_handle = 0x1000;

    // --- input actions (sim_overlay.cpp, sim_clipboard.cpp, sim_ime.cpp) ---
    // Threads started but not run yet; run_pending_threads runs them in order
    // on the caller's thread, so their sleeps advance the virtual clock.
    std::vector<std::function<void()>> pending_threads;
    std::size_t threads_started = 0;
    // For each thread started, how many events had been recorded by then.
    std::vector<std::size_t> threads_started_after_events;
    void run_pending_threads();
    Handle module_handle = 0x400000;
    std::map<std::string, Handle> registered_classes;  // class name -> instance
    std::size_t register_class_calls = 0;
    std::vector<SimOverlayWindow> overlay_windows;
    SimOverlayFailures overlay_fail;

    // The clipboard in the order its formats were set, and every global
    // memory block alive. A handle in `clipboard` that is not in
    // `global_blocks` stands for a non-memory handle such as a bitmap.
    std::vector<SimClipboardEntry> clipboard;
    std::map<Handle, SimGlobalBlock> global_blocks;
    std::map<std::string, std::uint32_t> clipboard_format_names;
    bool clipboard_open = false;
    std::size_t clipboard_opens = 0;  // successful OpenClipboard calls
    SimClipboardFailures clipboard_fail;
    // Misuse a real clipboard would punish (freeing a block the clipboard
    // owns, calls while the clipboard is closed, ...); tests expect none.
    std::vector<std::string> clipboard_misuse;
    // Puts a format on the clipboard as another program would.
    void put_clipboard_bytes(std::uint32_t format, std::vector<std::byte> bytes);
    void put_clipboard_text(std::u16string_view text);    // format 13, zero-terminated
    void put_clipboard_non_memory(std::uint32_t format);  // e.g. a bitmap handle
    // format -> bytes of every memory format, in clipboard order.
    std::vector<std::pair<std::uint32_t, std::vector<std::byte>>> clipboard_contents() const;
    // Blocks neither freed nor owned by the clipboard: leaks.
    std::size_t leaked_global_blocks() const;

    Handle foreground_window = 0;
    std::optional<cua_actions::windows::GuiThreadInfo> foreground_thread_info;
    std::map<Handle, SimImeWindow> ime_windows;
    int ime_contexts_held = 0;            // ImmGetContext without ImmReleaseContext yet
    std::vector<Handle> ime_queries;      // default IME windows asked for their open status
    Handle next_input_handle = 0x100000;  // counter behind the handles handed out above

    // --- application windows, shell and folders (sim_apps.cpp) ---
    // Top-level application windows in Z order, topmost first.
    std::vector<SimAppWindow> app_windows;
    Handle next_app_window = 0x20000;
    std::uint32_t current_thread_id = 1;
    // SetForegroundWindow refuses while set; otherwise it succeeds only when
    // nothing is in the foreground, the caller owns the foreground or its
    // input is attached to the foreground thread.
    bool foreground_locked = false;
    std::set<std::pair<std::uint32_t, std::uint32_t>> attached_threads;
    std::vector<SimAttachCall> attach_calls;
    std::vector<SimWindowCall> window_calls;
    std::map<std::string, SimShellProgram> shell_programs;  // by file, exactly
    std::vector<SimShellCall> shell_calls;
    std::map<std::u16string, SimFolder> folders;  // by full path
    // Adds a window on top of the Z order; returns its handle.
    Handle add_app_window(SimAppWindow window);
    SimAppWindow* app_window(Handle handle);
    // Adds `path` as a file (or a folder) with every missing parent folder.
    void add_file(const std::u16string& path, bool is_folder = false);
    void add_file(const std::string& path_utf8, bool is_folder = false);

    // --- folder links, identities and the registry (sim_files.cpp) ---
    // Adds a folder link at `path` naming `target` (which need not exist).
    void add_folder_link(const std::string& path_utf8, const std::string& target_utf8);
    // The folder `path` names once every link on the way is followed, or
    // nothing when it names no folder.
    std::optional<std::u16string> resolve_folder(const std::u16string& path);
    std::uint64_t next_file_index = 1;
    std::vector<std::u16string> identity_queries;  // every get_folder_identity path, in order
    // Default values by "HKLM\<subkey>" or "HKCU\<subkey>".
    std::map<std::string, std::string> registry_strings;

    // --- more buttons, the horizontal wheel, keyboard layouts (sim_keyboard_layout.cpp) ---
    std::uint32_t double_click_time_ms = 500;  // GetDoubleClickTime
    // Layouts by handle: character -> VkKeyScanExW answer. Thread 0 and every
    // thread not in `thread_layouts` use `default_layout`, a US layout.
    std::map<Handle, std::map<char16_t, std::int16_t>> keyboard_layouts;
    std::map<std::uint32_t, Handle> thread_layouts;
    Handle default_layout = 0x04090409;
    std::vector<Handle> layout_queries;  // every layout VkKeyScanExW was asked about
    // --- windows as structure (sim_structure.cpp) ---
    std::vector<SimControl> controls;  // child windows, siblings in Z order
    Handle next_control = 0x30000;
    std::set<std::uint32_t> hung_threads;                 // threads that answer no message
    std::map<std::uint32_t, std::string> process_images;  // process id -> image path
    std::map<Handle, SimAccessible> accessible_objects;   // live: a leak stays here
    Handle next_accessible = 0x40000;
    // Virtual milliseconds each accessibility call takes.
    std::uint32_t accessible_call_ms = 0;
    // Accessibility calls that reached a hung thread's window (each blocks 10 s).
    int hung_window_calls = 0;
    int com_initialized = 0;  // co_initialize calls not yet undone
    std::vector<std::pair<Handle, std::uint32_t>> posted_messages;
    // Adds a control as the last child of `parent`; returns its handle.
    Handle add_control(SimControl control);
    SimControl* control(Handle handle);
    // The thread a top-level window or control belongs to, 0 when unknown.
    std::uint32_t window_thread(Handle window);
    // GetWindow of GW_CHILD, or GW_HWNDNEXT of a control; nothing for other windows.
    std::optional<Handle> control_window_step(Handle window, std::uint32_t command);
    // SendMessageTimeout of WM_NULL to a window of the tree; nothing for other windows.
    std::optional<std::optional<std::uint64_t>> answer_null_message(Handle window,
                                                                    std::uint32_t message,
                                                                    std::uint32_t timeout_ms);

    std::unique_lock<std::recursive_mutex> lock() { return std::unique_lock(mutex_); }
    std::uint64_t now_ms() const { return now_ns / 1'000'000; }
    // The input records sent so far, without the cursor moves.
    std::vector<InputRecord> inputs() const;

    // --- Platform ---
    void sleep_ms(std::uint32_t ms) override;
    std::chrono::nanoseconds monotonic_now() override;

    bool set_process_dpi_aware() override;
    cua_actions::windows::OptionalCall set_process_dpi_awareness_context(
        cua_actions::windows::DpiAwarenessContext context) override;
    std::optional<std::uint32_t> get_dpi_for_monitor(Handle monitor) override;
    std::uint32_t get_last_error() override;
    std::vector<Handle> enum_display_monitors() override;
    std::optional<MonitorInfo> get_monitor_info(Handle monitor) override;
    int get_system_metrics(int index) override;

    bool set_cursor_pos(std::int32_t x, std::int32_t y) override;
    std::optional<Point> get_cursor_pos() override;
    std::uint32_t send_input(std::span<const InputRecord> records) override;

    std::optional<std::string> get_env(const std::string& name) override;

    void write_stderr_line(std::string_view line) override;

    // --- child processes (sim_process.cpp) ---
    std::optional<std::string> search_path(const std::string& file_name) override;
    cua_actions::windows::ChildStart start_child_process(
        const cua_actions::windows::ChildProcessLaunch& launch) override;
    cua_actions::windows::ChildStatus check_child_exit(Handle child) override;
    bool terminate_child_tree(Handle child) override;
    bool wait_child_exit(Handle child) override;
    cua_actions::windows::ChildOutput collect_child_output(Handle child,
                                                           std::uint32_t grace_ms) override;
    void close_child_process(Handle child) override;

    // --- code pages (sim_code_page.cpp) ---
    std::uint32_t get_oem_code_page() override;
    std::optional<std::u16string> multi_byte_to_wide_char(std::uint32_t code_page,
                                                          std::string_view bytes) override;

    // --- screen capture (sim_capture.cpp) ---
    Handle get_dc(Handle window) override;
    bool release_dc(Handle window, Handle dc) override;
    Handle create_compatible_dc(Handle dc) override;
    Handle create_compatible_bitmap(Handle dc, std::int32_t width, std::int32_t height) override;
    Handle select_object(Handle dc, Handle object) override;
    bool bit_blt(Handle dest, std::int32_t x, std::int32_t y, std::int32_t width,
                 std::int32_t height, Handle source, std::int32_t source_x, std::int32_t source_y,
                 std::uint32_t rop) override;
    int get_di_bits(Handle dc, Handle bitmap, std::uint32_t start, std::uint32_t lines,
                    std::span<std::uint8_t> bits, cua_actions::windows::BitmapInfoHeader& info,
                    std::uint32_t usage) override;
    bool delete_object(Handle object) override;
    bool delete_dc(Handle dc) override;

    // --- input actions (sim_overlay.cpp, sim_clipboard.cpp, sim_ime.cpp) ---
    bool start_detached_thread(std::function<void()> body) override;
    std::optional<Handle> get_module_handle() override;
    std::optional<std::string> format_system_message(std::uint32_t code) override;
    std::uint16_t register_overlay_class(const std::string& class_name, Handle instance) override;
    Handle create_window_ex(const cua_actions::windows::CreateWindowParams& window_params) override;
    bool set_layered_window_attributes(Handle window, std::uint32_t color_key, std::uint8_t alpha,
                                       std::uint32_t flags) override;
    bool show_window(Handle window, int command) override;
    bool update_window(Handle window) override;
    bool destroy_window(Handle window) override;

    bool open_clipboard(Handle owner) override;
    bool close_clipboard() override;
    bool empty_clipboard() override;
    std::uint32_t enum_clipboard_formats(std::uint32_t format) override;
    Handle get_clipboard_data(std::uint32_t format) override;
    Handle set_clipboard_data(std::uint32_t format, Handle memory) override;
    std::uint32_t register_clipboard_format(const std::string& name) override;
    Handle global_alloc(std::uint32_t flags, std::size_t bytes) override;
    std::size_t global_size(Handle memory) override;
    void* global_lock(Handle memory) override;
    bool global_unlock(Handle memory) override;
    Handle global_free(Handle memory) override;

    Handle get_foreground_window() override;
    Handle imm_get_context(Handle window) override;
    bool imm_get_open_status(Handle context) override;
    bool imm_release_context(Handle window, Handle context) override;
    std::optional<cua_actions::windows::GuiThreadInfo> get_gui_thread_info(
        std::uint32_t thread_id) override;
    Handle imm_get_default_ime_wnd(Handle window) override;
    std::optional<std::uint64_t> send_message_timeout(Handle window, std::uint32_t message,
                                                      std::uint64_t wparam, std::int64_t lparam,
                                                      std::uint32_t flags,
                                                      std::uint32_t timeout_ms) override;

    // --- application windows, shell and folders (sim_apps.cpp) ---
    Handle get_top_window(Handle parent) override;
    Handle get_window(Handle window, std::uint32_t command) override;
    bool is_window_visible(Handle window) override;
    cua_actions::windows::WindowText get_window_text(Handle window, int buffer_units) override;
    std::int32_t get_window_long(Handle window, int index) override;
    cua_actions::windows::WindowThreadProcess get_window_thread_process_id(Handle window) override;
    std::optional<Rect> get_window_rect(Handle window) override;
    bool is_iconic(Handle window) override;
    bool is_zoomed(Handle window) override;
    bool set_window_pos(Handle window, Handle insert_after, std::int32_t x, std::int32_t y,
                        std::int32_t cx, std::int32_t cy, std::uint32_t flags) override;
    bool set_foreground_window(Handle window) override;
    bool bring_window_to_top(Handle window) override;
    Handle set_focus(Handle window) override;
    bool attach_thread_input(std::uint32_t attach_from, std::uint32_t attach_to,
                             bool attach) override;
    std::uint32_t get_current_thread_id() override;
    std::int64_t shell_execute(Handle owner, const std::string& verb, const std::string& file,
                               const std::optional<std::string>& parameters,
                               const std::optional<std::string>& directory,
                               int show_command) override;
    std::optional<std::vector<cua_actions::windows::FolderEntry>> list_folder(
        const std::u16string& path) override;
    bool path_metadata_readable(const std::u16string& path) override;
    // --- folder links, identities and the registry (sim_files.cpp) ---
    std::optional<cua_actions::windows::FolderIdentity> get_folder_identity(
        const std::u16string& path) override;
    std::optional<std::uint32_t> get_file_attributes(const std::u16string& path) override;
    std::optional<std::string> get_registry_string(cua_actions::windows::RegistryRoot root,
                                                   const std::string& subkey) override;
    // --- more buttons, the horizontal wheel, keyboard layouts (sim_keyboard_layout.cpp) ---
    std::uint32_t get_double_click_time() override;
    Handle get_keyboard_layout(std::uint32_t thread_id) override;
    std::int16_t vk_key_scan_ex(char16_t character, Handle layout) override;
    // ShowWindow on an application window (show_window routes here).
    bool show_app_window(SimAppWindow& window, int command);

    // --- windows as structure (sim_structure.cpp) ---
    std::string get_class_name(Handle window) override;
    bool is_window(Handle window) override;
    std::optional<std::string> get_process_image_name(std::uint32_t process_id) override;
    std::optional<std::u16string> get_control_text(Handle window, int buffer_units,
                                                   std::uint32_t timeout_ms) override;
    bool post_message(Handle window, std::uint32_t message, std::uint64_t wparam,
                      std::int64_t lparam) override;
    bool co_initialize() override;
    void co_uninitialize() override;
    Handle accessible_object_from_window(Handle window, std::int32_t object_id) override;
    void release_accessible(Handle object) override;
    std::optional<std::vector<cua_actions::windows::AccessibleChild>> accessible_children(
        Handle object) override;
    Handle window_from_accessible_object(Handle object) override;
    std::optional<std::string> get_acc_name(Handle object, std::int32_t child) override;
    std::optional<std::string> get_acc_value(Handle object, std::int32_t child) override;
    std::optional<std::uint32_t> get_acc_role(Handle object, std::int32_t child) override;
    std::optional<std::uint32_t> get_acc_state(Handle object, std::int32_t child) override;
    std::optional<Rect> acc_location(Handle object, std::int32_t child) override;
    bool put_acc_value(Handle object, std::int32_t child, const std::string& value) override;
    std::optional<int> list_box_count(Handle window, std::uint32_t timeout_ms) override;
    std::optional<int> list_box_top_index(Handle window, std::uint32_t timeout_ms) override;
    std::optional<cua_actions::windows::ListBoxItem> list_box_item(
        Handle window, int index, std::uint32_t timeout_ms) override;

  private:
    std::recursive_mutex mutex_;
    std::uint32_t last_error_ = 0;
};

// Installs a fresh SimDesktop as the active platform for one test's lifetime.
class ScopedSimDesktop {
  public:
    ScopedSimDesktop();
    ~ScopedSimDesktop();
    ScopedSimDesktop(const ScopedSimDesktop&) = delete;
    ScopedSimDesktop& operator=(const ScopedSimDesktop&) = delete;

    SimDesktop* operator->() { return &desktop_; }
    SimDesktop& operator*() { return desktop_; }

  private:
    SimDesktop desktop_;
};

}  // namespace sim
