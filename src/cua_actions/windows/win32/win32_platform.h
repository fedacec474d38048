#pragma once
// The real Win32 implementation of the platform cut. Only win32_*.cpp files
// include <windows.h>; this header stays portable so tests can name the type.

#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

// Not final: tests under Wine record what the real calls answered.
class Win32Platform : public Platform {
  public:
    void sleep_ms(std::uint32_t ms) override;
    std::chrono::nanoseconds monotonic_now() override;

    bool set_process_dpi_aware() override;
    OptionalCall set_process_dpi_awareness_context(DpiAwarenessContext context) override;
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

    // --- screen capture (win32_capture.cpp) ---
    Handle get_dc(Handle window) override;
    bool release_dc(Handle window, Handle dc) override;
    Handle create_compatible_dc(Handle dc) override;
    Handle create_compatible_bitmap(Handle dc, std::int32_t width, std::int32_t height) override;
    Handle select_object(Handle dc, Handle object) override;
    bool bit_blt(Handle dest, std::int32_t x, std::int32_t y, std::int32_t width,
                 std::int32_t height, Handle source, std::int32_t source_x, std::int32_t source_y,
                 std::uint32_t rop) override;
    int get_di_bits(Handle dc, Handle bitmap, std::uint32_t start, std::uint32_t lines,
                    std::span<std::uint8_t> bits, BitmapInfoHeader& info,
                    std::uint32_t usage) override;
    bool delete_object(Handle object) override;
    bool delete_dc(Handle dc) override;

    // --- child processes (win32_process.cpp) ---
    std::optional<std::string> search_path(const std::string& file_name) override;
    ChildStart start_child_process(const ChildProcessLaunch& launch) override;
    ChildStatus check_child_exit(Handle child) override;
    bool terminate_child_tree(Handle child) override;
    bool wait_child_exit(Handle child) override;
    ChildOutput collect_child_output(Handle child, std::uint32_t grace_ms) override;
    void close_child_process(Handle child) override;

    // --- code pages (win32_code_page.cpp) ---
    std::uint32_t get_oem_code_page() override;
    std::optional<std::u16string> multi_byte_to_wide_char(std::uint32_t code_page,
                                                          std::string_view bytes) override;

    // --- input actions (win32_overlay.cpp, win32_clipboard.cpp, win32_ime.cpp) ---
    bool start_detached_thread(std::function<void()> body) override;
    std::optional<Handle> get_module_handle() override;
    std::optional<std::string> format_system_message(std::uint32_t code) override;
    std::uint16_t register_overlay_class(const std::string& class_name, Handle instance) override;
    Handle create_window_ex(const CreateWindowParams& launch) override;
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
    std::optional<GuiThreadInfo> get_gui_thread_info(std::uint32_t thread_id) override;
    Handle imm_get_default_ime_wnd(Handle window) override;
    std::optional<std::uint64_t> send_message_timeout(Handle window, std::uint32_t message,
                                                      std::uint64_t wparam, std::int64_t lparam,
                                                      std::uint32_t flags,
                                                      std::uint32_t timeout_ms) override;

    // --- application windows, shell and folders (win32_apps.cpp) ---
    Handle get_top_window(Handle parent) override;
    Handle get_window(Handle window, std::uint32_t command) override;
    bool is_window_visible(Handle window) override;
    WindowText get_window_text(Handle window, int buffer_units) override;
    std::int32_t get_window_long(Handle window, int index) override;
    WindowThreadProcess get_window_thread_process_id(Handle window) override;
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
    std::optional<std::vector<FolderEntry>> list_folder(const std::u16string& path) override;
    bool path_metadata_readable(const std::u16string& path) override;

    // --- folder identity, file attributes and the registry (win32_apps.cpp) ---
    std::optional<FolderIdentity> get_folder_identity(const std::u16string& path) override;
    std::optional<std::uint32_t> get_file_attributes(const std::u16string& path) override;
    std::optional<std::string> get_registry_string(RegistryRoot root,
                                                   const std::string& subkey) override;

    // --- more buttons, the horizontal wheel, keyboard layouts (win32_keyboard_layout.cpp) ---
    std::uint32_t get_double_click_time() override;
    Handle get_keyboard_layout(std::uint32_t thread_id) override;
    std::int16_t vk_key_scan_ex(char16_t character, Handle layout) override;
    // --- windows as structure: classes, processes, accessibility (win32_accessibility.cpp) ---
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
    std::optional<std::vector<AccessibleChild>> accessible_children(Handle object) override;
    Handle window_from_accessible_object(Handle object) override;
    std::optional<std::string> get_acc_name(Handle object, std::int32_t child) override;
    std::optional<std::string> get_acc_value(Handle object, std::int32_t child) override;
    std::optional<std::uint32_t> get_acc_role(Handle object, std::int32_t child) override;
    std::optional<std::uint32_t> get_acc_state(Handle object, std::int32_t child) override;
    std::optional<Rect> acc_location(Handle object, std::int32_t child) override;
    bool put_acc_value(Handle object, std::int32_t child, const std::string& value) override;
    std::optional<int> list_box_count(Handle window, std::uint32_t timeout_ms) override;
    std::optional<int> list_box_top_index(Handle window, std::uint32_t timeout_ms) override;
    std::optional<ListBoxItem> list_box_item(Handle window, int index,
                                             std::uint32_t timeout_ms) override;
};

// The process-wide instance the executable installs.
Win32Platform& win32_platform();

// The standard output or error handle, written as bytes (never text mode, so no
// carriage return sneaks in) until all are written or a write fails. A
// GUI-subsystem process may have no standard handles at all.
enum class StandardStream { output, error };
enum class StreamWrite { written, no_handle, failed };
StreamWrite write_standard_stream(StandardStream stream, std::string_view bytes);

// GetEnvironmentVariableW: the value, or nothing when unset or not valid Unicode. Shared
// with the log's own reading of the environment.
std::optional<std::string> read_environment_variable(const std::string& name);

}  // namespace cua_actions::windows
