// Simulated top-level application windows, focus rules, the shell and the
// file system the application index walks.
#include <algorithm>

#include "support/sim_desktop.h"
#include "text/text.h"

namespace sim {

using cua_actions::windows::FolderEntry;
using cua_actions::windows::WindowText;
using cua_actions::windows::WindowThreadProcess;

namespace {

constexpr std::int64_t kSeErrFileNotFound = 2;  // SE_ERR_FNF
constexpr int kSwHide = 0;

bool contains(const Rect& rect, std::int32_t x, std::int32_t y) {
    return rect.left <= x && x < rect.right && rect.top <= y && y < rect.bottom;
}

}  // namespace

Handle SimDesktop::add_app_window(SimAppWindow window) {
    auto guard = lock();
    if (window.handle == 0) {
        window.handle = next_app_window++;
    }
    if (window.restored_rect == Rect{}) {
        window.restored_rect = window.rect;
    }
    app_windows.insert(app_windows.begin(), window);
    return window.handle;
}

SimAppWindow* SimDesktop::app_window(Handle handle) {
    auto guard = lock();
    for (SimAppWindow& window : app_windows) {
        if (window.handle == handle && window.appears_ms <= now_ms()) {
            return &window;
        }
    }
    return nullptr;
}

void SimDesktop::add_file(const std::u16string& path, bool is_folder) {
    auto guard = lock();
    const std::size_t slash = path.rfind(u'\\');
    if (is_folder) {
        folders.try_emplace(path);
    }
    if (slash == std::u16string::npos) {
        return;  // a drive root
    }
    const std::u16string parent = path.substr(0, slash);
    const std::u16string name = path.substr(slash + 1);
    add_file(parent, true);
    auto& items = folders[parent].items;
    const bool known = std::any_of(items.begin(), items.end(),
                                   [&](const SimFolderItem& item) { return item.name == name; });
    if (!known) {
        items.push_back(SimFolderItem{name, is_folder, false});
    }
}

void SimDesktop::add_file(const std::string& path_utf8, bool is_folder) {
    add_file(text::utf8_to_utf16(path_utf8), is_folder);
}

Handle SimDesktop::get_top_window(Handle parent) {
    auto guard = lock();
    if (parent != 0) {
        return 0;  // only top-level windows are simulated
    }
    for (const SimAppWindow& window : app_windows) {
        if (window.appears_ms <= now_ms()) {
            return window.handle;
        }
    }
    return 0;
}

Handle SimDesktop::get_window(Handle window, std::uint32_t command) {
    auto guard = lock();
    if (const std::optional<Handle> step = control_window_step(window, command)) {
        return *step;  // the child-window tree of sim_structure.cpp
    }
    if (command != cua_actions::windows::kGwHwndNext) {
        return 0;
    }
    auto it = std::find_if(app_windows.begin(), app_windows.end(),
                           [&](const SimAppWindow& w) { return w.handle == window; });
    if (it == app_windows.end()) {
        return 0;
    }
    for (++it; it != app_windows.end(); ++it) {
        if (it->appears_ms <= now_ms()) {
            return it->handle;
        }
    }
    return 0;
}

bool SimDesktop::is_window_visible(Handle window) {
    auto guard = lock();
    if (const SimControl* found = control(window)) {
        return (found->state & 0x8000) == 0;  // STATE_SYSTEM_INVISIBLE
    }
    const SimAppWindow* found = app_window(window);
    return found != nullptr && found->visible;
}

WindowText SimDesktop::get_window_text(Handle window, int buffer_units) {
    auto guard = lock();
    const SimAppWindow* found = app_window(window);
    if (found == nullptr || buffer_units <= 0) {
        return {};
    }
    // The buffer keeps one unit for the terminating NUL.
    const std::size_t units =
        std::min(found->title.size(), static_cast<std::size_t>(buffer_units - 1));
    return WindowText{static_cast<int>(units), found->title.substr(0, units)};
}

std::int32_t SimDesktop::get_window_long(Handle window, int index) {
    auto guard = lock();
    const SimAppWindow* found = app_window(window);
    if (found == nullptr || index != cua_actions::windows::kGwlExStyle) {
        return 0;
    }
    return static_cast<std::int32_t>(found->ex_style);
}

WindowThreadProcess SimDesktop::get_window_thread_process_id(Handle window) {
    auto guard = lock();
    if (const SimControl* found = control(window)) {
        Handle root = found->parent;
        while (const SimControl* up = control(root)) {
            root = up->parent;
        }
        const SimAppWindow* top = app_window(root);
        return WindowThreadProcess{window_thread(window), top != nullptr ? top->process_id : 0};
    }
    const SimAppWindow* found = app_window(window);
    if (found == nullptr) {
        return {};
    }
    return WindowThreadProcess{found->thread_id, found->process_id};
}

std::optional<Rect> SimDesktop::get_window_rect(Handle window) {
    auto guard = lock();
    const SimAppWindow* found = app_window(window);
    if (found == nullptr || found->rect_fails) {
        return std::nullopt;
    }
    return found->rect;
}

bool SimDesktop::is_iconic(Handle window) {
    auto guard = lock();
    const SimAppWindow* found = app_window(window);
    return found != nullptr && found->minimized;
}

bool SimDesktop::is_zoomed(Handle window) {
    auto guard = lock();
    const SimAppWindow* found = app_window(window);
    return found != nullptr && found->maximized;
}

namespace {
void raise(std::vector<SimAppWindow>& windows, Handle handle) {
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](const SimAppWindow& w) { return w.handle == handle; });
    if (it != windows.end()) {
        std::rotate(windows.begin(), it, it + 1);
    }
}
}  // namespace

bool SimDesktop::set_window_pos(Handle window, Handle insert_after, std::int32_t x, std::int32_t y,
                                std::int32_t cx, std::int32_t cy, std::uint32_t flags) {
    auto guard = lock();
    SimAppWindow* found = app_window(window);
    window_calls.push_back(
        SimWindowCall{"set_pos", window, flags, Rect{x, y, x + cx, y + cy}, now_ms()});
    if (found == nullptr) {
        return false;
    }
    Rect rect = found->rect;
    if ((flags & cua_actions::windows::kSwpNoMove) == 0) {
        rect = Rect{x, y, x + (rect.right - rect.left), y + (rect.bottom - rect.top)};
    }
    if ((flags & cua_actions::windows::kSwpNoSize) == 0) {
        rect.right = rect.left + cx;
        rect.bottom = rect.top + cy;
    }
    found->rect = rect;
    if (!found->maximized) {
        found->restored_rect = rect;
    }
    if ((flags & cua_actions::windows::kSwpShowWindow) != 0) {
        found->visible = true;
    }
    if ((flags & cua_actions::windows::kSwpNoZOrder) == 0 && insert_after == 0) {
        raise(app_windows, window);  // HWND_TOP
    }
    return true;
}

bool SimDesktop::show_app_window(SimAppWindow& window, int command) {
    auto guard = lock();
    window_calls.push_back(SimWindowCall{"show", window.handle, command, {}, now_ms()});
    const bool was_visible = window.visible;
    switch (command) {
        case kSwHide:
            window.visible = false;
            break;
        case cua_actions::windows::kSwMinimize:
            window.minimized = true;
            break;
        case cua_actions::windows::kSwRestore:
            if (window.minimized) {
                window.minimized = false;
            } else if (window.maximized) {
                window.maximized = false;
                window.rect = window.restored_rect;
            }
            window.visible = true;
            break;
        case cua_actions::windows::kSwShowMaximized: {
            window.visible = true;
            if (window.maximize_minimizes) {
                window.minimized = true;
                break;
            }
            window.minimized = false;
            if (!window.maximized) {
                window.restored_rect = window.rect;
            }
            window.maximized = true;
            // The monitor holding the window's centre, else the first one.
            const std::int32_t cx = window.rect.left + (window.rect.right - window.rect.left) / 2;
            const std::int32_t cy = window.rect.top + (window.rect.bottom - window.rect.top) / 2;
            window.rect = monitors.empty() ? window.rect : monitors.front().rect;
            for (const SimMonitor& monitor : monitors) {
                if (contains(monitor.rect, cx, cy)) {
                    window.rect = monitor.rect;
                    break;
                }
            }
            break;
        }
        default:
            window.visible = true;
            break;
    }
    return was_visible;
}

bool SimDesktop::set_foreground_window(Handle window) {
    auto guard = lock();
    window_calls.push_back(SimWindowCall{"set_foreground", window, 0, {}, now_ms()});
    if (app_window(window) == nullptr || foreground_locked) {
        return false;
    }
    const WindowThreadProcess owner = get_window_thread_process_id(foreground_window);
    const bool allowed = foreground_window == 0 || owner.thread_id == current_thread_id ||
                         attached_threads.count({current_thread_id, owner.thread_id}) != 0;
    if (!allowed) {
        return false;
    }
    foreground_window = window;
    raise(app_windows, window);
    return true;
}

bool SimDesktop::bring_window_to_top(Handle window) {
    auto guard = lock();
    window_calls.push_back(SimWindowCall{"bring_to_top", window, 0, {}, now_ms()});
    if (app_window(window) == nullptr) {
        return false;
    }
    raise(app_windows, window);
    return true;
}

Handle SimDesktop::set_focus(Handle window) {
    auto guard = lock();
    window_calls.push_back(SimWindowCall{"set_focus", window, 0, {}, now_ms()});
    return 0;
}

bool SimDesktop::attach_thread_input(std::uint32_t attach_from, std::uint32_t attach_to,
                                     bool attach) {
    auto guard = lock();
    attach_calls.push_back(SimAttachCall{attach_from, attach_to, attach, now_ms()});
    if (attach_from == attach_to || attach_from == 0 || attach_to == 0) {
        return false;
    }
    if (attach) {
        attached_threads.insert({attach_from, attach_to});
        return true;
    }
    return attached_threads.erase({attach_from, attach_to}) != 0;
}

std::uint32_t SimDesktop::get_current_thread_id() {
    auto guard = lock();
    return current_thread_id;
}

std::int64_t SimDesktop::shell_execute(Handle /*owner*/, const std::string& verb,
                                       const std::string& file,
                                       const std::optional<std::string>& parameters,
                                       const std::optional<std::string>& directory,
                                       int show_command) {
    auto guard = lock();
    shell_calls.push_back(SimShellCall{verb, file, parameters, directory, show_command, now_ms()});
    const auto found = shell_programs.find(file);
    if (found == shell_programs.end()) {
        return kSeErrFileNotFound;
    }
    if (found->second.result > 32 && found->second.window) {
        SimAppWindow window = *found->second.window;
        window.appears_ms = now_ms() + found->second.window_after_ms;
        add_app_window(window);
    }
    return found->second.result;
}

std::optional<std::vector<FolderEntry>> SimDesktop::list_folder(const std::u16string& path) {
    auto guard = lock();
    const std::optional<std::u16string> resolved = resolve_folder(path);
    const auto found = resolved ? folders.find(*resolved) : folders.end();
    if (found == folders.end() || found->second.list_fails) {
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    for (const SimFolderItem& item : found->second.items) {
        FolderEntry entry;
        entry.read_failed = item.read_fails;
        const bool has_separator = !path.empty() && path.back() == u'\\';
        // Paths grow through links, as they do on Windows.
        entry.path = (has_separator ? path : path + u"\\") + item.name;
        entry.is_folder =
            item.link_target ? resolve_folder(*item.link_target).has_value() : item.is_folder;
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool SimDesktop::path_metadata_readable(const std::u16string& path) {
    return get_file_attributes(path).has_value();
}

}  // namespace sim
