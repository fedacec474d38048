// The bounded walk of a window's controls, finding an element again by its path,
// and the ui_elements action.
#include "cua_actions/windows/ui_elements.h"

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/element_store.h"
#include "cua_actions/windows/windows_list.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint32_t kRoleClient = 10;       // ROLE_SYSTEM_CLIENT
constexpr std::uint32_t kBmGetCheck = 0x00F0;   // BM_GETCHECK
constexpr std::uint32_t kButtonTypeMask = 0xF;  // BS_TYPEMASK

// ROLE_SYSTEM_* 1 to 64, in order.
constexpr std::array<std::string_view, 64> kRoleNames{"title_bar",     "menu_bar",
                                                      "scroll_bar",    "grip",
                                                      "sound",         "cursor",
                                                      "caret",         "alert",
                                                      "window",        "client",
                                                      "menu",          "menu_item",
                                                      "tooltip",       "application",
                                                      "document",      "pane",
                                                      "chart",         "dialog",
                                                      "border",        "group",
                                                      "separator",     "tool_bar",
                                                      "status_bar",    "table",
                                                      "column_header", "row_header",
                                                      "column",        "row",
                                                      "cell",          "link",
                                                      "help_balloon",  "character",
                                                      "list",          "list_item",
                                                      "outline",       "outline_item",
                                                      "tab",           "property_page",
                                                      "indicator",     "graphic",
                                                      "label",         "edit",
                                                      "button",        "check_box",
                                                      "radio_button",  "combo_box",
                                                      "drop_list",     "progress_bar",
                                                      "dial",          "hotkey_field",
                                                      "slider",        "spin_button",
                                                      "diagram",       "animation",
                                                      "equation",      "drop_down_button",
                                                      "menu_button",   "grid_drop_down_button",
                                                      "white_space",   "tab_list",
                                                      "clock",         "split_button",
                                                      "ip_address",    "outline_button"};

constexpr std::array<std::string_view, 15> kInteractiveRoles{
    "button",    "check_box", "radio_button", "edit",         "combo_box",
    "drop_list", "list",      "list_item",    "link",         "menu_item",
    "tab",       "slider",    "spin_button",  "outline_item", "split_button"};

// Owns an accessible object handed out by the platform.
class ScopedAccessible {
  public:
    explicit ScopedAccessible(Handle object = 0) : object_(object) {}
    ~ScopedAccessible() {
        if (object_ != 0) {
            platform().release_accessible(object_);
        }
    }
    ScopedAccessible(ScopedAccessible&& other) noexcept
        : object_(std::exchange(other.object_, 0)) {}
    ScopedAccessible& operator=(ScopedAccessible&&) = delete;
    ScopedAccessible(const ScopedAccessible&) = delete;
    ScopedAccessible& operator=(const ScopedAccessible&) = delete;
    Handle get() const { return object_; }

  private:
    Handle object_;
};

// COM for the walking thread, undone on the same thread.
class ScopedCom {
  public:
    ScopedCom() : initialized_(platform().co_initialize()) {}
    ~ScopedCom() {
        if (initialized_) {
            platform().co_uninitialize();
        }
    }
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;

  private:
    bool initialized_;
};

std::string control_text(Handle window) {
    const auto text = platform().get_control_text(window, kControlTextUnits, kHungWindowTimeoutMs);
    return text ? text::utf16_to_utf8(*text) : std::string();
}

std::string hex_handle(Handle handle) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[handle & 0xF]);
        handle >>= 4;
    } while (handle != 0);
    return "0x" + out;
}

// One walk's state; its result sits behind a lock so the executor can take what was
// found so far from a walk stuck inside one call.
class Walker {
  public:
    Walker(const WalkLimits& limits, std::mutex& lock, WalkResult& out)
        : limits_(limits), lock_(lock), out_(out) {
        deadline_ = platform().monotonic_now() + std::chrono::milliseconds(limits.time_limit_ms);
    }

    void walk_window(Handle window, ElementPath path, int depth, int parent) {
        if (stop() || !answers(window)) {
            return;
        }
        const ScopedAccessible object(
            platform().accessible_object_from_window(window, kObjidClient));
        const Visit visit = add(object.get(), kChildIdSelf, window, path, parent, true);
        if (visit.hidden) {
            return;
        }
        if (depth >= limits_.max_depth) {
            mark_truncated();
            return;
        }
        const Handle first = platform().get_window(window, kGwChild);
        if (first != 0) {
            // Child windows are walked one by one, each after its thread answered:
            // oleacc would message every child window it hands out without a limit.
            std::uint32_t index = 0;
            for (Handle child = first; child != 0 && !stop();
                 child = platform().get_window(child, kGwHwndNext), ++index) {
                if (platform().is_window_visible(child)) {
                    ElementPath child_path = path;
                    child_path.push_back(PathStep{true, index});
                    walk_window(child, std::move(child_path), depth + 1, visit.id);
                }
            }
        } else {
            const bool any =
                object.get() != 0 && walk_children(object.get(), window, path, depth, visit.id);
            // oleacc does not hand out list-box items everywhere (Wine): read them directly.
            if (!any && text::to_lower(platform().get_class_name(window)) == "listbox") {
                walk_list_items(window, path, visit.id, visit.rect);
            }
        }
    }

  private:
    struct Visit {
        int id = 0;  // the element's id, or its parent's when it was left out
        bool hidden = false;
        Rect rect;
    };

    bool stop() {
        if (out_of_time() || full()) {
            mark_truncated();
            return true;
        }
        return false;
    }
    bool out_of_time() { return platform().monotonic_now() >= deadline_; }
    bool full() {
        const std::lock_guard guard(lock_);
        return out_.elements.size() >= limits_.max_elements;
    }
    void mark_truncated() {
        const std::lock_guard guard(lock_);
        out_.truncated = true;
    }
    void note(std::string line) {
        const std::lock_guard guard(lock_);
        out_.notes.push_back(std::move(line));
    }

    // Whether the window's thread answers WM_NULL in time; asked once per thread.
    bool answers(Handle window) {
        const std::uint32_t thread = platform().get_window_thread_process_id(window).thread_id;
        if (answered_.count(thread) != 0) {
            return true;
        }
        if (hung_.count(thread) == 0) {
            if (platform().send_message_timeout(window, kWmNull, 0, 0, kSmtoAbortIfHung,
                                                kHungWindowTimeoutMs)) {
                answered_.insert(thread);
                return true;
            }
            hung_.insert(thread);
        }
        note("Skipped window " + hex_handle(window) + " (" + platform().get_class_name(window) +
             "): not responding");
        return false;
    }

    // The items from the top one shown on (from the first with include_offscreen).
    void walk_list_items(Handle window, const ElementPath& path, int parent, const Rect& box) {
        Platform& os = platform();
        const auto count = os.list_box_count(window, kHungWindowTimeoutMs);
        if (!count) {
            return;
        }
        const int first = limits_.include_offscreen
                              ? 0
                              : os.list_box_top_index(window, kHungWindowTimeoutMs).value_or(0);
        for (int i = first; i < *count && !stop(); ++i) {
            const auto item = os.list_box_item(window, i, kHungWindowTimeoutMs);
            if (!item) {
                return;
            }
            UiElement element = element_from_list_item(*item, window);
            if (item->rect.top >= box.bottom || item->rect.bottom <= box.top) {
                if (!limits_.include_offscreen) {
                    return;  // below the last item shown
                }
                element.state |= kStateOffscreen;
            }
            element.path = path;
            element.path.push_back(PathStep{false, static_cast<std::uint32_t>(i), true});
            element.parent = parent;
            include(std::move(element));
        }
    }

    bool walk_children(Handle object, Handle window, const ElementPath& path, int depth,
                       int parent) {
        const auto children = platform().accessible_children(object);
        if (!children) {
            return false;
        }
        // Owned from the start, so every object is released whatever the walk does next.
        std::vector<ScopedAccessible> owned;
        owned.reserve(children->size());
        for (const AccessibleChild& child : *children) {
            owned.emplace_back(child.object);
        }
        for (std::size_t i = 0; i < children->size() && !stop(); ++i) {
            ElementPath child_path = path;
            child_path.push_back(PathStep{false, static_cast<std::uint32_t>(i)});
            const AccessibleChild& child = (*children)[i];
            if (child.object == 0) {
                add(object, child.child_id, window, child_path, parent, false);
                continue;
            }
            // A child window: the window walk reaches it (after its thread answered).
            const Handle child_window = platform().window_from_accessible_object(child.object);
            if (child_window != 0 && child_window != window) {
                continue;
            }
            const Visit visit = add(child.object, kChildIdSelf, window, child_path, parent, false);
            if (!visit.hidden && depth + 1 < limits_.max_depth) {
                walk_children(child.object, window, child_path, depth + 1, visit.id);
            } else if (!visit.hidden) {
                mark_truncated();
            }
        }
        return !children->empty();
    }

    Visit add(Handle object, std::int32_t child, Handle window, const ElementPath& path, int parent,
              bool window_object) {
        UiElement element = read_element(object, child, window, window_object);
        element.path = path;
        element.parent = parent;
        return include(std::move(element));
    }

    Visit include(UiElement element) {
        const int parent = element.parent;
        if ((element.state & kStateInvisible) != 0) {
            return Visit{parent, true};
        }
        const bool offscreen = (element.state & kStateOffscreen) != 0 ||
                               element.rect.right <= element.rect.left ||
                               element.rect.bottom <= element.rect.top;
        if (offscreen && !limits_.include_offscreen) {
            return Visit{parent, true};
        }
        if (limits_.interactive_only && !is_interactive_role(element.role)) {
            return Visit{parent, false, element.rect};
        }
        const std::lock_guard guard(lock_);
        if (out_.elements.size() >= limits_.max_elements) {
            out_.truncated = true;
            return Visit{parent, true};
        }
        element.id = static_cast<int>(out_.elements.size()) + 1;
        out_.elements.push_back(std::move(element));
        return Visit{out_.elements.back().id, false, out_.elements.back().rect};
    }

  public:
    // What the element reads as now; the window's own data stands in for what its
    // accessible object does not give.
    static UiElement read_element(Handle object, std::int32_t child, Handle window,
                                  bool window_object) {
        Platform& os = platform();
        UiElement element;
        element.window = window;
        std::optional<std::uint32_t> role;
        if (object != 0) {
            role = os.get_acc_role(object, child);
            element.name = os.get_acc_name(object, child).value_or("");
            element.value = os.get_acc_value(object, child).value_or("");
            element.state = os.get_acc_state(object, child).value_or(0);
            element.rect = os.acc_location(object, child).value_or(Rect{});
        }
        element.role = role ? role_name(*role) : "client";
        if (window_object) {
            const auto style = static_cast<std::uint32_t>(os.get_window_long(window, kGwlStyle));
            if (!role || *role == kRoleClient) {
                if (auto from_class = role_from_window_class(os.get_class_name(window), style)) {
                    element.role = *from_class;
                }
            }
            if (element.name.empty() && element.role != "edit") {
                element.name = control_text(window);
            }
            if (element.value.empty() && element.role == "edit") {
                element.value = control_text(window);
            }
            if ((style & kWsDisabled) != 0) {
                element.state |= kStateUnavailable;
            }
            if ((element.role == "check_box" || element.role == "radio_button") &&
                (element.state & (kStateChecked | kStateMixed)) == 0) {
                const auto check = os.send_message_timeout(window, kBmGetCheck, 0, 0,
                                                           kSmtoAbortIfHung, kHungWindowTimeoutMs);
                element.state |= check == 1 ? kStateChecked : check == 2 ? kStateMixed : 0;
            }
            if (element.rect == Rect{}) {
                element.rect = os.get_window_rect(window).value_or(Rect{});
            }
        }
        if (element.value.empty() &&
            (element.role == "check_box" || element.role == "radio_button")) {
            element.value = (element.state & kStateChecked) != 0 ? "checked"
                            : (element.state & kStateMixed) != 0 ? "mixed"
                                                                 : "unchecked";
        }
        element.name = cut_element_text(element.name);
        element.value = cut_element_text(element.value);
        return element;
    }

  private:
    WalkLimits limits_;
    std::mutex& lock_;
    WalkResult& out_;
    std::chrono::nanoseconds deadline_{};
    std::set<std::uint32_t> answered_;
    std::set<std::uint32_t> hung_;
};

// A walk's result shared between the walking thread and the executor.
struct SharedWalk {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    WalkResult result;
};

// Runs `body` on a detached thread with COM; waits until it is done or `wait_ms` of real
// time passed. The state outlives a thread left behind.
void run_detached(const std::shared_ptr<SharedWalk>& shared, std::uint32_t wait_ms,
                  std::function<void(SharedWalk&)> body) {
    std::thread([shared, body = std::move(body)] {
        {
            const ScopedCom com;
            body(*shared);
        }
        const std::lock_guard guard(shared->lock);
        shared->done = true;
        shared->finished.notify_all();
    }).detach();
    std::unique_lock guard(shared->lock);
    shared->finished.wait_for(guard, std::chrono::milliseconds(wait_ms),
                              [&] { return shared->done; });
}

zelto::Result<std::uint64_t> bounded_integer(const Json& params, const char* key,
                                             std::uint64_t fallback, std::uint64_t maximum) {
    const Json* value = find_param(params, key);
    if (value == nullptr) {
        return fallback;
    }
    if (!value->is_number_integer() || value->get<std::int64_t>() < 1 ||
        value->get<std::uint64_t>() > maximum) {
        return zelto::fail("Invalid " + std::string(key) + ": expected an integer from 1 to " +
                           std::to_string(maximum));
    }
    return value->get<std::uint64_t>();
}

bool bool_param(const Json& params, const char* key) {
    const Json* value = find_param(params, key);
    return value != nullptr && value->is_boolean() && value->get<bool>();
}

double thousandths(std::int64_t offset, std::int32_t extent) {
    return extent > 0 ? std::round(offset * 10000.0 / extent) / 10.0 : 0.0;
}

}  // namespace

std::string format_element_path(const ElementPath& path) {
    std::string out;
    for (const PathStep& step : path) {
        if (!out.empty()) {
            out += '.';
        }
        out += step.item ? 'i' : step.window ? 'w' : 'a';
        out += std::to_string(step.index);
    }
    return out;
}

std::optional<ElementPath> parse_element_path(std::string_view text) {
    ElementPath path;
    while (!text.empty()) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.size() < 2 || part.size() > 10 ||
            (part[0] != 'w' && part[0] != 'a' && part[0] != 'i')) {
            return std::nullopt;
        }
        std::uint64_t index = 0;
        for (const char c : part.substr(1)) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            index = index * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (index > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        path.push_back(PathStep{part[0] == 'w', static_cast<std::uint32_t>(index), part[0] == 'i'});
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
        if (text.empty()) {
            return std::nullopt;  // a trailing dot
        }
    }
    return path;
}

std::string role_name(std::uint32_t role) {
    if (role >= 1 && role <= kRoleNames.size()) {
        return std::string(kRoleNames[role - 1]);
    }
    return "role_" + std::to_string(role);
}

std::optional<std::string> role_from_window_class(std::string_view class_name,
                                                  std::uint32_t style) {
    const std::string lowered = text::to_lower(class_name);
    if (lowered == "button") {
        switch (style & kButtonTypeMask) {
            case 2:  // BS_CHECKBOX
            case 3:  // BS_AUTOCHECKBOX
            case 5:  // BS_3STATE
            case 6:  // BS_AUTO3STATE
                return "check_box";
            case 4:  // BS_RADIOBUTTON
            case 9:  // BS_AUTORADIOBUTTON
                return "radio_button";
            case 7:  // BS_GROUPBOX
                return "group";
            default:
                return "button";
        }
    }
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 12> kClasses{{
        {"edit", "edit"},
        {"static", "label"},
        {"listbox", "list"},
        {"combobox", "combo_box"},
        {"scrollbar", "scroll_bar"},
        {"syslistview32", "list"},
        {"systreeview32", "outline"},
        {"systabcontrol32", "tab_list"},
        {"msctls_statusbar32", "status_bar"},
        {"toolbarwindow32", "tool_bar"},
        {"msctls_progress32", "progress_bar"},
        {"msctls_trackbar32", "slider"},
    }};
    for (const auto& [name, role] : kClasses) {
        if (lowered == name) {
            return std::string(role);
        }
    }
    if (lowered.starts_with("richedit")) {
        return "edit";
    }
    return std::nullopt;
}

UiElement element_from_list_item(const ListBoxItem& item, Handle window) {
    UiElement element;
    element.role = "list_item";
    element.name = cut_element_text(item.text);
    element.state = item.selected ? kStateSelected : 0;
    element.rect = item.rect;
    element.window = window;
    return element;
}

bool is_interactive_role(std::string_view role) {
    for (const std::string_view candidate : kInteractiveRoles) {
        if (candidate == role) {
            return true;
        }
    }
    return false;
}

std::string cut_element_text(const std::string& text) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 &&
            chars++ == kElementTextMaxChars) {
            return text.substr(0, i) + "\u2026";
        }
    }
    return text;
}

zelto::Result<WalkLimits> read_walk_limits(const Json& params) {
    WalkLimits limits;
    const auto max_elements =
        bounded_integer(params, "max_elements", kDefaultMaxElements, kMaxElementsLimit);
    if (!max_elements) {
        return zelto::fail(max_elements.error());
    }
    const auto max_depth = bounded_integer(params, "max_depth", kDefaultMaxDepth, kMaxDepthLimit);
    if (!max_depth) {
        return zelto::fail(max_depth.error());
    }
    const auto time_limit =
        bounded_integer(params, "time_limit_ms", kDefaultWalkTimeLimitMs, kMaxWalkTimeLimitMs);
    if (!time_limit) {
        return zelto::fail(time_limit.error());
    }
    limits.max_elements = static_cast<std::size_t>(*max_elements);
    limits.max_depth = static_cast<int>(*max_depth);
    limits.time_limit_ms = static_cast<std::uint32_t>(*time_limit);
    limits.interactive_only = bool_param(params, "interactive_only");
    limits.include_offscreen = bool_param(params, "include_offscreen");
    return limits;
}

WalkResult walk_ui_elements(Handle window, const WalkLimits& limits) {
    std::mutex lock;
    WalkResult result;
    Walker(limits, lock, result).walk_window(window, {}, 0, 0);
    return result;
}

WalkResult walk_ui_elements_bounded(Handle window, const WalkLimits& limits) {
    auto shared = std::make_shared<SharedWalk>();
    run_detached(shared, limits.time_limit_ms + kWalkStuckGraceMs,
                 [window, limits](SharedWalk& walk) {
                     Walker(limits, walk.lock, walk.result).walk_window(window, {}, 0, 0);
                 });
    const std::lock_guard guard(shared->lock);
    WalkResult result = shared->result;
    if (!shared->done) {
        result.truncated = true;
        result.notes.push_back("The walk did not finish within the time limit");
    }
    return result;
}

zelto::Status with_element_at_path(Handle window, const ElementPath& path,
                                   const std::function<void(const FoundElement&)>& act) {
    auto shared = std::make_shared<SharedWalk>();
    auto failure = std::make_shared<std::string>();
    run_detached(
        shared, kDefaultWalkTimeLimitMs + kWalkStuckGraceMs,
        [window, path, act, failure](SharedWalk& walk) {
            Platform& os = platform();
            auto answers = [&](Handle w) {
                return os
                    .send_message_timeout(w, kWmNull, 0, 0, kSmtoAbortIfHung, kHungWindowTimeoutMs)
                    .has_value();
            };
            Handle current_window = window;
            if (!answers(current_window)) {
                const std::lock_guard guard(walk.lock);
                *failure = "not responding";
                return;
            }
            std::vector<ScopedAccessible> held;
            held.emplace_back(os.accessible_object_from_window(current_window, kObjidClient));
            Handle object = held.back().get();
            std::int32_t child = kChildIdSelf;
            bool window_object = true;
            std::optional<UiElement> list_item;
            std::string lost;  // why the path cannot be followed
            for (const PathStep& step : path) {
                if (child != kChildIdSelf || list_item) {
                    lost = "missing";  // a simple element has no children
                    break;
                }
                if (step.item) {
                    const auto item = os.list_box_item(current_window, static_cast<int>(step.index),
                                                       kHungWindowTimeoutMs);
                    if (!item) {
                        lost = "missing";
                        break;
                    }
                    list_item = element_from_list_item(*item, current_window);
                    continue;
                }
                if (step.window) {
                    Handle next = os.get_window(current_window, kGwChild);
                    for (std::uint32_t i = 0; i < step.index && next != 0; ++i) {
                        next = os.get_window(next, kGwHwndNext);
                    }
                    if (next == 0 || !answers(next)) {
                        lost = next == 0 ? "missing" : "not responding";
                        break;
                    }
                    current_window = next;
                    held.emplace_back(os.accessible_object_from_window(next, kObjidClient));
                    object = held.back().get();
                    window_object = true;
                    continue;
                }
                if (object == 0) {
                    lost = "missing";
                    break;
                }
                auto children = os.accessible_children(object);
                std::vector<ScopedAccessible> owned;
                if (children) {
                    for (const AccessibleChild& entry : *children) {
                        owned.emplace_back(entry.object);
                    }
                }
                if (!children || step.index >= children->size()) {
                    lost = "missing";
                    break;
                }
                const AccessibleChild entry = (*children)[step.index];
                if (entry.object == 0) {
                    child = entry.child_id;
                } else {
                    held.push_back(std::move(owned[step.index]));
                    object = held.back().get();
                }
                window_object = false;
            }
            if (!lost.empty()) {
                const std::lock_guard guard(walk.lock);
                *failure = lost;
                return;
            }
            if (list_item) {
                FoundElement found{0, kChildIdSelf, *list_item};
                found.element.path = path;
                act(found);
                return;
            }
            FoundElement found{object, child,
                               Walker::read_element(object, child, current_window, window_object)};
            found.element.path = path;
            act(found);
        });
    const std::lock_guard guard(shared->lock);
    if (!shared->done) {
        return zelto::fail("not responding");
    }
    if (!failure->empty()) {
        return zelto::fail(*failure);
    }
    return zelto::done();
}

Json element_json(const UiElement& element, std::int32_t origin_x, std::int32_t origin_y,
                  std::int32_t width, std::int32_t height) {
    const std::int64_t cx = (std::int64_t{element.rect.left} + element.rect.right) / 2;
    const std::int64_t cy = (std::int64_t{element.rect.top} + element.rect.bottom) / 2;
    Json states = Json::array();
    static constexpr std::array<std::pair<std::uint32_t, std::string_view>, 6> kStates{{
        {kStateUnavailable, "disabled"},
        {kStateFocused, "focused"},
        {kStateChecked, "checked"},
        {kStateMixed, "mixed"},
        {kStateSelected, "selected"},
        {kStateOffscreen, "offscreen"},
    }};
    for (const auto& [bit, name] : kStates) {
        if ((element.state & bit) != 0) {
            states.push_back(name);
        }
    }
    return Json{{"center", Json::array({cx, cy})},
                {"id", element.id},
                {"name", element.name},
                {"parent", element.parent == 0 ? Json(nullptr) : Json(element.parent)},
                {"position", Json::array({thousandths(cx - origin_x, width),
                                          thousandths(cy - origin_y, height)})},
                {"rect", Json::array({element.rect.left, element.rect.top, element.rect.right,
                                      element.rect.bottom})},
                {"role", element.role},
                {"states", std::move(states)},
                {"value", element.value}};
}

ActionResult handle_ui_elements(const Json& params) {
    const auto limits = read_walk_limits(params);
    if (!limits) {
        return error_result(limits.error());
    }
    const auto by_id = read_window_id(params);
    if (!by_id) {
        return error_result(by_id.error());
    }
    Platform& os = platform();
    const Handle window = by_id->value_or(os.get_foreground_window());
    if (window == 0) {
        return error_result("No foreground window: pass window_id (see list_windows)");
    }
    const std::chrono::nanoseconds started = os.monotonic_now();
    WalkResult walk = walk_ui_elements_bounded(window, *limits);
    const auto elapsed_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(os.monotonic_now() - started).count();
    const std::vector<DisplayInfo> displays = enumerate_displays();
    const Rect window_rect = os.get_window_rect(window).value_or(Rect{});
    const DisplayInfo display = win_display_of_rect(window_rect, displays);

    Json elements = Json::array();
    for (const UiElement& element : walk.elements) {
        elements.push_back(
            element_json(element, display.x, display.y, display.width, display.height));
    }
    // What a later action needs to find each element again; a failed save only means
    // the ids cannot be acted on.
    if (const zelto::Status saved = save_element_snapshot(window, walk.elements); !saved) {
        walk.notes.push_back("Element ids cannot be acted on: " + saved.error());
    }
    return ok_result(Json{{"display_id", format_display_id(display)},
                          {"elapsed_ms", elapsed_ms},
                          {"elements", std::move(elements)},
                          {"notes", Json(walk.notes)},
                          {"truncated", walk.truncated},
                          {"window", win_window_json(window, displays)}});
}

}  // namespace cua_actions::windows
