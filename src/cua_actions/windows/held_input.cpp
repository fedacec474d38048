// Mouse buttons beyond left and right, keys held across a press, the key a
// character is typed with on the current layout, and the pointer's position.
#include <array>
#include <limits>
#include <utility>

#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/typing_pointer.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint32_t kButtonSettleMs = 50;
constexpr double kMaxHoldSeconds = 10.0;

constexpr std::uint16_t kVkShift = 0x10;
constexpr std::uint16_t kVkControl = 0x11;
constexpr std::uint16_t kVkMenu = 0x12;

constexpr std::array<std::pair<std::string_view, MouseButton>, 5> kButtonNames{{
    {"left", MouseButton::left},
    {"right", MouseButton::right},
    {"middle", MouseButton::middle},
    {"back", MouseButton::back},
    {"forward", MouseButton::forward},
}};

bool is_ascii_letter_or_digit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The names of "keys" (or the one "key") of a hold.
zelto::Result<std::vector<std::string>> hold_names(const Json& params) {
    std::vector<std::string> names;
    if (const Json* keys = find_param(params, "keys")) {
        if (!keys->is_array() || keys->empty()) {
            return zelto::fail("keys must be a non-empty array of key names");
        }
        for (const Json& key : *keys) {
            if (!key.is_string()) {
                return zelto::fail("keys must be a non-empty array of key names");
            }
            names.push_back(key.get<std::string>());
        }
        return names;
    }
    if (const std::string* key = string_param(params, "key")) {
        names.push_back(*key);
        return names;
    }
    return zelto::fail("Missing key");
}

// The virtual key a single name puts down: its stroke without the held keys
// (holding "!" holds the key, not Shift).
zelto::Result<std::uint16_t> single_key(const std::string& key) {
    const std::string name = press_lookup_name(key);
    const auto stroke = key_stroke_for(name);
    if (!stroke) {
        return zelto::fail("Unknown key: " + name);
    }
    return stroke->vk;
}

}  // namespace

ButtonEvents button_events(MouseButton button) {
    switch (button) {
        case MouseButton::right:
            return {kMouseEventRightDown, kMouseEventRightUp, 0};
        case MouseButton::middle:
            return {kMouseEventMiddleDown, kMouseEventMiddleUp, 0};
        case MouseButton::back:
            return {kMouseEventXDown, kMouseEventXUp, kXButton1};
        case MouseButton::forward:
            return {kMouseEventXDown, kMouseEventXUp, kXButton2};
        case MouseButton::left:
            break;
    }
    return {kMouseEventLeftDown, kMouseEventLeftUp, 0};
}

zelto::Result<MouseButton> read_button(const Json& params, MouseButton fallback) {
    const Json* value = find_param(params, "button");
    if (value == nullptr) {
        return fallback;
    }
    if (value->is_string()) {
        for (const auto& [name, button] : kButtonNames) {
            if (name == value->get_ref<const std::string&>()) {
                return button;
            }
        }
    }
    return zelto::fail("Invalid button: " + value->dump() +
                       " (left, right, middle, back or forward)");
}

std::optional<KeyStroke> layout_key_stroke(char16_t character, Handle layout) {
    const std::int16_t scan = platform().vk_key_scan_ex(character, layout);
    if (scan == -1) {
        return std::nullopt;
    }
    const auto bits = static_cast<std::uint16_t>(scan);
    const auto shift_state = static_cast<std::uint8_t>(bits >> 8);
    if ((shift_state & ~(kKeyScanShift | kKeyScanControl | kKeyScanAlt)) != 0) {
        return std::nullopt;  // Kana or OEM shift states: no key we can hold gives it
    }
    KeyStroke stroke{static_cast<std::uint16_t>(bits & 0xFF), {}};
    if ((shift_state & kKeyScanShift) != 0) {
        stroke.held.push_back(kVkShift);
    }
    // Control with Alt is AltGr on layouts that have it.
    if ((shift_state & kKeyScanControl) != 0) {
        stroke.held.push_back(kVkControl);
    }
    if ((shift_state & kKeyScanAlt) != 0) {
        stroke.held.push_back(kVkMenu);
    }
    return stroke;
}

std::optional<KeyStroke> key_stroke_for(std::string_view name) {
    if (const auto vk = win_key_name_to_vk(name)) {
        return KeyStroke{*vk, {}};
    }
    const std::string trimmed = text::trim(name);
    const std::u16string units = text::utf8_to_utf16(trimmed);
    // One character that is no letter or digit: its byte value would be some
    // other key ("." is Delete), so the layout says which key types it.
    if (units.size() != 1 || (trimmed.size() == 1 && is_ascii_letter_or_digit(trimmed[0]))) {
        return std::nullopt;
    }
    Platform& os = platform();
    const Handle layout = os.get_keyboard_layout(
        os.get_window_thread_process_id(os.get_foreground_window()).thread_id);
    return layout_key_stroke(units[0], layout);
}

void send_key(std::uint16_t vk, bool key_up) {
    std::uint32_t flags = is_extended_key(vk) ? kKeyEventExtendedKey : 0;
    if (key_up) {
        flags |= kKeyEventKeyUp;
    }
    const InputRecord record = InputRecord::key_event(vk, 0, flags);
    platform().send_input(std::span<const InputRecord>(&record, 1));  // count not examined
}

void HeldKeys::press(std::uint16_t vk) {
    held_.push_back(vk);
    send_key(vk, false);
}

void HeldKeys::press_all(std::span<const std::uint16_t> vks) {
    for (const std::uint16_t vk : vks) {
        press(vk);
    }
}

void HeldKeys::release() {
    while (!held_.empty()) {
        send_key(held_.back(), true);
        held_.pop_back();
    }
}

zelto::Result<std::vector<std::uint16_t>> read_modifiers(const Json& params) {
    std::vector<std::uint16_t> vks;
    const Json* value = find_param(params, "modifiers");
    if (value == nullptr) {
        return vks;
    }
    if (!value->is_array()) {
        return zelto::fail("modifiers must be an array of key names");
    }
    for (const Json& key : *value) {
        if (!key.is_string()) {
            return zelto::fail("modifiers must be an array of key names");
        }
        const std::string name = normalize_combination_name(key.get<std::string>());
        if (const auto modifier = combination_modifier_vk(name)) {
            vks.push_back(*modifier);
        } else if (const auto stroke = key_stroke_for(name)) {
            vks.push_back(stroke->vk);
        } else {
            return zelto::fail("Unknown key: " + name);
        }
    }
    return vks;
}

ActionResult handle_mouse_button(const Json& params, bool release) {
    const auto button = read_button(params, MouseButton::left);
    if (!button) {
        return error_result(button.error());
    }
    std::optional<ClickPoint> point;
    if (find_param(params, "position") != nullptr) {
        const auto position = read_position(params, "position");
        if (!position) {
            return error_result("Missing position");
        }
        point = to_physical_click_point(*position, params);
    }
    Platform& os = platform();
    if (point) {
        os.set_cursor_pos(point->x, point->y);
        os.sleep_ms(kButtonSettleMs);
    }
    const ButtonEvents events = button_events(*button);
    send_mouse_event(release ? events.up : events.down, events.data);
    return point ? ok_result(std::move(point->mapping)) : ok_result();
}

namespace {

// The virtual key of each name, in order, or the first name's failure.
zelto::Result<std::vector<std::uint16_t>> key_codes(const std::vector<std::string>& names) {
    std::vector<std::uint16_t> vks;
    for (const std::string& name : names) {
        const auto vk = single_key(name);
        if (!vk) {
            return zelto::fail(vk.error());
        }
        vks.push_back(*vk);
    }
    return vks;
}

}  // namespace

ActionResult handle_key_transition(const Json& params, bool release) {
    const auto names = hold_names(params);
    if (!names) {
        return error_result(names.error());
    }
    const auto codes = key_codes(*names);
    if (!codes) {
        return error_result(codes.error());
    }
    const std::vector<std::uint16_t>& vks = *codes;
    // Several keys go down in their order and come up in the reverse one.
    if (release) {
        for (auto it = vks.rbegin(); it != vks.rend(); ++it) {
            send_key(*it, true);
        }
    } else {
        for (const std::uint16_t vk : vks) {
            send_key(vk, false);
        }
    }
    return ok_result();
}

ActionResult handle_hold_key(const Json& params) {
    const auto names = hold_names(params);
    if (!names) {
        return error_result(names.error());
    }
    const Json* duration = find_param(params, "duration");
    if (duration == nullptr || !duration->is_number() || !(duration->get<double>() >= 0.0) ||
        duration->get<double>() > kMaxHoldSeconds) {
        return error_result("duration must be a number of seconds from 0 to 10");
    }
    const auto codes = key_codes(*names);
    if (!codes) {
        return error_result(codes.error());
    }
    const std::vector<std::uint16_t>& vks = *codes;
    HeldKeys held;
    held.press_all(vks);
    platform().sleep_ms(static_cast<std::uint32_t>(duration->get<double>() * 1000.0 + 0.5));
    held.release();
    return ok_result();
}

ActionResult handle_cursor_position(const Json& /*params*/) {
    const std::optional<Point> cursor = platform().get_cursor_pos();
    if (!cursor) {
        return error_result("GetCursorPos failed");
    }
    const std::vector<DisplayInfo> displays = enumerate_displays();
    DisplayInfo display = default_display(displays);
    for (const DisplayInfo& candidate : displays) {
        if (cursor->x >= candidate.x && cursor->y >= candidate.y &&
            std::int64_t{cursor->x} < std::int64_t{candidate.x} + candidate.width &&
            std::int64_t{cursor->y} < std::int64_t{candidate.y} + candidate.height) {
            display = candidate;
            break;
        }
    }
    const std::int64_t dx = std::int64_t{cursor->x} - display.x;
    const std::int64_t dy = std::int64_t{cursor->y} - display.y;
    return ok_result(Json{
        {"display_id", format_display_id(display)},
        {"display_relative", {dx, dy}},
        {"global", {cursor->x, cursor->y}},
        {"normalized",
         {display.width > 0 ? static_cast<double>(dx) / display.width : 0.0,
          display.height > 0 ? static_cast<double>(dy) / display.height : 0.0}},
        {"origin", {display.x, display.y}},
        {"screen", {display.width, display.height}},
    });
}

}  // namespace cua_actions::windows
