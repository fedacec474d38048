// Simulated child controls, process images and Active Accessibility: the
// window tree the walk of a window's controls reads, with state it changes.
#include <algorithm>

#include "support/sim_desktop.h"
#include "text/text.h"

namespace sim {

using cua_actions::windows::AccessibleChild;

namespace {
constexpr std::uint32_t kRoleClient = 10;              // ROLE_SYSTEM_CLIENT
constexpr std::uint64_t kHungCallNs = 10'000'000'000;  // a call into a hung thread blocks
}  // namespace

Handle SimDesktop::add_control(SimControl added) {
    auto guard = lock();
    if (added.handle == 0) {
        added.handle = next_control++;
    }
    controls.push_back(added);
    return added.handle;
}

SimControl* SimDesktop::control(Handle handle) {
    auto guard = lock();
    for (SimControl& found : controls) {
        if (found.handle == handle) {
            return &found;
        }
    }
    return nullptr;
}

std::uint32_t SimDesktop::window_thread(Handle window) {
    auto guard = lock();
    if (const SimControl* found = control(window)) {
        return found->thread_id != 0 ? found->thread_id : window_thread(found->parent);
    }
    const SimAppWindow* top = app_window(window);
    return top != nullptr ? top->thread_id : 0;
}

std::optional<Handle> SimDesktop::control_window_step(Handle window, std::uint32_t command) {
    auto guard = lock();
    if (command == cua_actions::windows::kGwChild) {
        for (const SimControl& found : controls) {
            if (found.parent == window) {
                return found.handle;
            }
        }
        return Handle{0};
    }
    const SimControl* current = control(window);
    if (current == nullptr || command != cua_actions::windows::kGwHwndNext) {
        return std::nullopt;
    }
    auto it = std::find_if(controls.begin(), controls.end(),
                           [&](const SimControl& c) { return c.handle == window; });
    for (++it; it != controls.end(); ++it) {
        if (it->parent == current->parent) {
            return it->handle;
        }
    }
    return Handle{0};
}

std::optional<std::optional<std::uint64_t>> SimDesktop::answer_null_message(
    Handle window, std::uint32_t message, std::uint32_t timeout_ms) {
    auto guard = lock();
    if (message != cua_actions::windows::kWmNull || window_thread(window) == 0) {
        return std::nullopt;
    }
    if (hung_threads.count(window_thread(window)) != 0) {
        now_ns += static_cast<std::uint64_t>(timeout_ms) * 1'000'000;  // waited out the limit
        return std::optional<std::uint64_t>();
    }
    return std::optional<std::uint64_t>(0);
}

std::string SimDesktop::get_class_name(Handle window) {
    auto guard = lock();
    if (const SimControl* found = control(window)) {
        return found->class_name;
    }
    const SimAppWindow* top = app_window(window);
    return top != nullptr ? top->class_name : std::string();
}

bool SimDesktop::is_window(Handle window) {
    auto guard = lock();
    return control(window) != nullptr || app_window(window) != nullptr;
}

std::optional<std::string> SimDesktop::get_process_image_name(std::uint32_t process_id) {
    auto guard = lock();
    const auto found = process_images.find(process_id);
    if (found == process_images.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::u16string> SimDesktop::get_control_text(Handle window, int buffer_units,
                                                           std::uint32_t timeout_ms) {
    auto guard = lock();
    if (hung_threads.count(window_thread(window)) != 0) {
        now_ns += static_cast<std::uint64_t>(timeout_ms) * 1'000'000;
        return std::nullopt;
    }
    std::u16string text;
    if (const SimControl* found = control(window)) {
        text = found->text;
    } else if (const SimAppWindow* top = app_window(window)) {
        text = top->title;
    } else {
        return std::nullopt;
    }
    return text.substr(0, buffer_units > 0 ? static_cast<std::size_t>(buffer_units - 1) : 0);
}

bool SimDesktop::post_message(Handle window, std::uint32_t message, std::uint64_t /*wparam*/,
                              std::int64_t /*lparam*/) {
    auto guard = lock();
    if (!is_window(window)) {
        return false;
    }
    posted_messages.emplace_back(window, message);
    if (message == cua_actions::windows::kWmClose) {
        std::erase_if(app_windows, [&](const SimAppWindow& w) { return w.handle == window; });
        std::erase_if(controls, [&](const SimControl& c) { return c.parent == window; });
        if (foreground_window == window) {
            foreground_window = 0;
        }
    }
    return true;
}

bool SimDesktop::co_initialize() {
    auto guard = lock();
    ++com_initialized;
    return true;
}

void SimDesktop::co_uninitialize() {
    auto guard = lock();
    --com_initialized;
}

Handle SimDesktop::accessible_object_from_window(Handle window, std::int32_t object_id) {
    auto guard = lock();
    now_ns += static_cast<std::uint64_t>(accessible_call_ms) * 1'000'000;
    if (object_id != cua_actions::windows::kObjidClient || !is_window(window)) {
        return 0;
    }
    if (hung_threads.count(window_thread(window)) != 0) {
        ++hung_window_calls;
        now_ns += kHungCallNs;
        return 0;
    }
    if (const SimControl* found = control(window); found != nullptr && found->accessible_fails) {
        return 0;
    }
    const Handle object = next_accessible++;
    accessible_objects[object] = SimAccessible{window};
    return object;
}

void SimDesktop::release_accessible(Handle object) {
    auto guard = lock();
    accessible_objects.erase(object);
}

namespace {
// What one accessible object answers for itself or one simple element.
struct SimAnswer {
    std::optional<std::uint32_t> role;
    std::optional<std::string> name;
    std::optional<std::string> value;
    std::uint32_t state = 0;
    Rect rect;
};
}  // namespace

// The answer of `object`'s element `child`, after the call's virtual cost; nothing when the
// object is not live, the child does not exist or the window's thread is hung.
static std::optional<SimAnswer> answer_of(SimDesktop& desktop, Handle object, std::int32_t child) {
    desktop.now_ns += static_cast<std::uint64_t>(desktop.accessible_call_ms) * 1'000'000;
    const auto found = desktop.accessible_objects.find(object);
    if (found == desktop.accessible_objects.end()) {
        return std::nullopt;
    }
    const Handle window = found->second.window;
    if (desktop.hung_threads.count(desktop.window_thread(window)) != 0) {
        ++desktop.hung_window_calls;
        desktop.now_ns += kHungCallNs;
        return std::nullopt;
    }
    if (const SimControl* control = desktop.control(window)) {
        if (child == 0) {
            return SimAnswer{control->role, control->name, control->value, control->state,
                             control->rect};
        }
        if (child < 0 || static_cast<std::size_t>(child) > control->elements.size()) {
            return std::nullopt;
        }
        const SimElement& element = control->elements[static_cast<std::size_t>(child) - 1];
        return SimAnswer{element.role, element.name, element.value, element.state, element.rect};
    }
    const SimAppWindow* top = desktop.app_window(window);
    if (top == nullptr || child != 0) {
        return std::nullopt;
    }
    return SimAnswer{kRoleClient, text::utf16_to_utf8(top->title), std::nullopt, 0, top->rect};
}

std::optional<std::vector<AccessibleChild>> SimDesktop::accessible_children(Handle object) {
    auto guard = lock();
    if (!answer_of(*this, object, 0)) {
        return std::nullopt;
    }
    const Handle window = accessible_objects[object].window;
    std::vector<AccessibleChild> children;
    // Child windows come as full objects, as oleacc hands out their window objects.
    for (const SimControl& found : controls) {
        if (found.parent == window) {
            const Handle child = next_accessible++;
            accessible_objects[child] = SimAccessible{found.handle};
            children.push_back(AccessibleChild{child, 0});
        }
    }
    if (const SimControl* self = control(window)) {
        for (std::size_t i = 0; i < self->elements.size(); ++i) {
            children.push_back(AccessibleChild{0, static_cast<std::int32_t>(i + 1)});
        }
    }
    return children;
}

Handle SimDesktop::window_from_accessible_object(Handle object) {
    auto guard = lock();
    const auto found = accessible_objects.find(object);
    return found == accessible_objects.end() ? 0 : found->second.window;
}

std::optional<std::string> SimDesktop::get_acc_name(Handle object, std::int32_t child) {
    auto guard = lock();
    const auto answer = answer_of(*this, object, child);
    return answer ? answer->name : std::nullopt;
}

std::optional<std::string> SimDesktop::get_acc_value(Handle object, std::int32_t child) {
    auto guard = lock();
    const auto answer = answer_of(*this, object, child);
    return answer ? answer->value : std::nullopt;
}

std::optional<std::uint32_t> SimDesktop::get_acc_role(Handle object, std::int32_t child) {
    auto guard = lock();
    const auto answer = answer_of(*this, object, child);
    return answer ? answer->role : std::nullopt;
}

std::optional<std::uint32_t> SimDesktop::get_acc_state(Handle object, std::int32_t child) {
    auto guard = lock();
    const auto answer = answer_of(*this, object, child);
    return answer ? std::optional<std::uint32_t>(answer->state) : std::nullopt;
}

std::optional<Rect> SimDesktop::acc_location(Handle object, std::int32_t child) {
    auto guard = lock();
    const auto answer = answer_of(*this, object, child);
    return answer ? std::optional<Rect>(answer->rect) : std::nullopt;
}

bool SimDesktop::put_acc_value(Handle object, std::int32_t child, const std::string& value) {
    auto guard = lock();
    if (!answer_of(*this, object, child) || child != 0) {
        return false;
    }
    SimControl* target = control(accessible_objects[object].window);
    if (target == nullptr || !target->editable) {
        return false;
    }
    target->value = value;
    target->text = text::utf8_to_utf16(value);
    ++target->value_changes;
    return true;
}

}  // namespace sim

namespace sim {

std::optional<int> SimDesktop::list_box_count(Handle window, std::uint32_t timeout_ms) {
    auto guard = lock();
    const SimControl* found = control(window);
    if (found == nullptr || hung_threads.count(window_thread(window)) != 0) {
        now_ns += static_cast<std::uint64_t>(timeout_ms) * 1'000'000;
        return std::nullopt;
    }
    return static_cast<int>(found->list_items.size());
}

std::optional<int> SimDesktop::list_box_top_index(Handle window, std::uint32_t timeout_ms) {
    auto guard = lock();
    const SimControl* found = control(window);
    if (found == nullptr || !list_box_count(window, timeout_ms)) {
        return std::nullopt;
    }
    return found->top_index;
}

std::optional<cua_actions::windows::ListBoxItem> SimDesktop::list_box_item(
    Handle window, int index, std::uint32_t timeout_ms) {
    auto guard = lock();
    const auto count = list_box_count(window, timeout_ms);
    if (!count || index < 0 || index >= *count) {
        return std::nullopt;
    }
    now_ns += static_cast<std::uint64_t>(accessible_call_ms) * 1'000'000;
    const SimControl& found = *control(window);
    const std::int32_t top = found.rect.top + (index - found.top_index) * found.item_height;
    return cua_actions::windows::ListBoxItem{
        found.list_items[static_cast<std::size_t>(index)],
        Rect{found.rect.left, top, found.rect.right, top + found.item_height}, false};
}

}  // namespace sim
