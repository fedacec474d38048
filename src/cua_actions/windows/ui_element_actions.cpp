// Resolving an element id, clicking and focusing an element, set_value.
#include "cua_actions/windows/ui_element_actions.h"

#include "cua_actions/windows/app_launch.h"
#include "cua_actions/windows/element_store.h"
#include "cua_actions/windows/typing_pointer.h"
#include "cua_actions/windows/windows_list.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint16_t kVkControl = 0x11;
constexpr std::uint16_t kVkA = 0x41;
constexpr std::uint16_t kVkDelete = 0x2E;

std::string describe(const std::string& role, const std::string& name) {
    return role + " \"" + name + "\"";
}

struct Target {
    Handle window = 0;
    SnapshotElement was;
};

zelto::Result<Target> find_target(const Json& params) {
    const Json* raw = find_param(params, "element");
    if (raw == nullptr) {
        return zelto::fail("Missing element");
    }
    if (!raw->is_number_integer() || raw->get<std::int64_t>() < 1 ||
        raw->get<std::int64_t>() > static_cast<std::int64_t>(kMaxElementsLimit)) {
        return zelto::fail("Invalid element: expected an element id from ui_elements");
    }
    const int id = raw->get<int>();
    const auto by_id = read_window_id(params);
    if (!by_id) {
        return zelto::fail(by_id.error());
    }
    const std::optional<ElementSnapshot> snapshot = load_element_snapshot(by_id->value_or(0));
    if (!snapshot) {
        return zelto::fail("No ui_elements result for element " + std::to_string(id) +
                           ": call ui_elements first");
    }
    if (!platform().is_window(snapshot->window)) {
        return zelto::fail("Window " + std::to_string(snapshot->window) + " of element " +
                           std::to_string(id) + " has closed; nothing done");
    }
    for (const SnapshotElement& element : snapshot->elements) {
        if (element.id == id) {
            return Target{snapshot->window, element};
        }
    }
    return zelto::fail("Unknown element " + std::to_string(id) +
                       ": not in the latest ui_elements of window " +
                       std::to_string(snapshot->window));
}

zelto::Status check_same(const Target& target, const UiElement& now) {
    if (now.role != target.was.role || now.name != target.was.name) {
        return zelto::fail("Element " + std::to_string(target.was.id) + " changed (was " +
                           describe(target.was.role, target.was.name) + ", now " +
                           describe(now.role, now.name) +
                           "); nothing done: call ui_elements again");
    }
    return zelto::done();
}

zelto::Status refind_failure(const Target& target, const std::string& why) {
    if (why == "not responding") {
        return zelto::fail("Window " + std::to_string(target.window) +
                           " is not responding; nothing done");
    }
    return zelto::fail("Element " + std::to_string(target.was.id) + " is gone from window " +
                       std::to_string(target.window) +
                       " (the window changed); nothing done: call ui_elements again");
}

zelto::Result<UiElement> resolve_target(const Target& target) {
    auto now = std::make_shared<UiElement>();
    const zelto::Status found = with_element_at_path(
        target.window, target.was.path, [now](const FoundElement& seen) { *now = seen.element; });
    if (!found) {
        return zelto::fail(refind_failure(target, found.error()).error());
    }
    if (const zelto::Status same = check_same(target, *now); !same) {
        return zelto::fail(same.error());
    }
    if (now->rect.right <= now->rect.left || now->rect.bottom <= now->rect.top) {
        return zelto::fail("Element " + std::to_string(target.was.id) +
                           " has no area on screen; nothing done");
    }
    return *now;
}

// The element's window in front, or a failure before anything is clicked.
zelto::Status bring_forward(Handle window, int id) {
    if (platform().get_foreground_window() == window || win_bring_to_foreground(window)) {
        return zelto::done();
    }
    return zelto::fail("Window " + std::to_string(window) + " of element " + std::to_string(id) +
                       " did not come to the foreground; nothing clicked");
}

void click_at(std::int32_t x, std::int32_t y) {
    Platform& os = platform();
    os.set_cursor_pos(x, y);
    os.sleep_ms(kElementFocusClickMs);
    send_mouse_event(kMouseEventLeftDown);
    os.sleep_ms(kElementFocusClickMs);
    send_mouse_event(kMouseEventLeftUp);
    os.sleep_ms(kElementFocusClickMs);
}

Point centre(const Rect& rect) {
    return Point{static_cast<std::int32_t>((std::int64_t{rect.left} + rect.right) / 2),
                 static_cast<std::int32_t>((std::int64_t{rect.top} + rect.bottom) / 2)};
}

void send_keys(std::initializer_list<InputRecord> records) {
    platform().send_input({records.begin(), records.size()});
}

// Focus, select all, then the text as Unicode events (or Delete for an empty text).
void replace_by_typing(const UiElement& element, const std::string& value) {
    const Point point = centre(element.rect);
    click_at(point.x, point.y);
    send_keys({InputRecord::key_event(kVkControl, 0, 0), InputRecord::key_event(kVkA, 0, 0),
               InputRecord::key_event(kVkA, 0, kKeyEventKeyUp),
               InputRecord::key_event(kVkControl, 0, kKeyEventKeyUp)});
    if (value.empty()) {
        send_keys({InputRecord::key_event(kVkDelete, 0, 0),
                   InputRecord::key_event(kVkDelete, 0, kKeyEventKeyUp)});
    } else if (const auto events = unicode_typing_events(text::utf8_to_utf16(value))) {
        platform().send_input(*events);
    }
    platform().sleep_ms(kSetValueSettleMs);
}

}  // namespace

zelto::Result<UiElement> resolve_element(const Json& params) {
    const auto target = find_target(params);
    if (!target) {
        return zelto::fail(target.error());
    }
    return resolve_target(*target);
}

zelto::Result<ClickPoint> element_click_point(const Json& params) {
    const auto target = find_target(params);
    if (!target) {
        return zelto::fail(target.error());
    }
    if (const zelto::Status forward = bring_forward(target->window, target->was.id); !forward) {
        return zelto::fail(forward.error());
    }
    // Found again after the window came forward: raising it may have moved it.
    const auto element = resolve_target(*target);
    if (!element) {
        return zelto::fail(element.error());
    }
    const Point point = centre(element->rect);
    ClickPoint click;
    click.x = point.x;
    click.y = point.y;
    click.mapping = Json{{"element", target->was.id},
                         {"global", {point.x, point.y}},
                         {"name", element->name},
                         {"role", element->role},
                         {"window_id", target->window}};
    return click;
}

zelto::Status focus_element(const Json& params) {
    const auto point = element_click_point(params);
    if (!point) {
        return zelto::fail(point.error());
    }
    click_at(point->x, point->y);
    return zelto::done();
}

ActionResult handle_set_value(const Json& params) {
    const std::string* value = string_param(params, "value");
    if (value == nullptr) {
        return error_result("Missing value");
    }
    const auto target = find_target(params);
    if (!target) {
        return error_result(target.error());
    }
    if (target->was.role != "edit" && target->was.role != "combo_box") {
        return error_result("Element " + std::to_string(target->was.id) + " is a " +
                            describe(target->was.role, target->was.name) +
                            ", not an editable element; nothing done");
    }
    struct Outcome {
        UiElement before;
        bool checked = false;
        bool set = false;
        std::string after;
    };
    auto outcome = std::make_shared<Outcome>();
    const std::string wanted = *value;
    const SnapshotElement was = target->was;
    const zelto::Status found = with_element_at_path(
        target->window, was.path, [outcome, wanted, was](const FoundElement& seen) {
            outcome->before = seen.element;
            if (seen.element.role != was.role || seen.element.name != was.name) {
                return;
            }
            outcome->checked = true;
            Platform& os = platform();
            if (seen.object != 0 && os.put_acc_value(seen.object, seen.child, wanted)) {
                outcome->after = os.get_acc_value(seen.object, seen.child).value_or("");
                outcome->set = outcome->after == wanted;
            }
        });
    if (!found) {
        return error_result(refind_failure(*target, found.error()).error());
    }
    if (!outcome->checked) {
        return error_result(check_same(*target, outcome->before).error());
    }
    std::string method = "accessibility";
    if (!outcome->set) {
        if (const zelto::Status forward = bring_forward(target->window, was.id); !forward) {
            return error_result(forward.error());
        }
        replace_by_typing(outcome->before, wanted);
        method = "typing";
    }
    return ok_result(Json{{"element", was.id},
                          {"method", method},
                          {"value", outcome->set ? outcome->after : wanted},
                          {"window_id", target->window}});
}

}  // namespace cua_actions::windows
