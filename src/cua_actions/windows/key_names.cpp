// Key names and the "press" and "press_combination" actions.
#include <array>
#include <utility>

#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/typing_pointer.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint32_t kPressHoldMs = 50;
constexpr std::uint32_t kModifierSettleMs = 20;
constexpr std::uint32_t kCombinationHoldMs = 50;

constexpr std::uint16_t kVkControl = 0x11;
constexpr std::uint16_t kVkShift = 0x10;
constexpr std::uint16_t kVkMenu = 0x12;
constexpr std::uint16_t kVkLeftWin = 0x5B;

struct KeyName {
    std::string_view name;
    std::uint16_t vk;
};

// The complete table; single characters are handled after it.
constexpr KeyName kKeyNames[] = {
    {"cmd", kVkControl},
    {"command", kVkControl},
    {"ctrl", kVkControl},
    {"control", kVkControl},
    {"shift", kVkShift},
    {"alt", kVkMenu},
    {"option", kVkMenu},
    {"win", kVkLeftWin},
    {"super", kVkLeftWin},
    {"delete", 0x08},
    {"backspace", 0x08},
    {"esc", 0x1B},
    {"escape", 0x1B},
    {"ret", 0x0D},
    {"return", 0x0D},
    {"enter", 0x0D},
    {"tab", 0x09},
    {"space", 0x20},
    {"left", 0x25},
    {"up", 0x26},
    {"right", 0x27},
    {"down", 0x28},
    {"home", 0x24},
    {"end", 0x23},
    {"pageup", 0x21},
    {"pagedown", 0x22},
    {"forwarddelete", 0x2E},
    {"forward_delete", 0x2E},
    {"capslock", 0x14},
    {"f1", 0x70},
    {"f2", 0x71},
    {"f3", 0x72},
    {"f4", 0x73},
    {"f5", 0x74},
    {"f6", 0x75},
    {"f7", 0x76},
    {"f8", 0x77},
    {"f9", 0x78},
    {"f10", 0x79},
    {"f11", 0x7A},
    {"f12", 0x7B},
    // Keys models name that the host's names never had; every name above is unchanged.
    {"insert", 0x2D},
    {"printscreen", 0x2C},
    {"pause", 0x13},
    {"numlock", 0x90},
    {"scrolllock", 0x91},
    {"apps", 0x5D},
    {"numpad0", 0x60},
    {"numpad1", 0x61},
    {"numpad2", 0x62},
    {"numpad3", 0x63},
    {"numpad4", 0x64},
    {"numpad5", 0x65},
    {"numpad6", 0x66},
    {"numpad7", 0x67},
    {"numpad8", 0x68},
    {"numpad9", 0x69},
    {"multiply", 0x6A},
    {"add", 0x6B},
    {"subtract", 0x6D},
    {"decimal", 0x6E},
    {"divide", 0x6F},
    {"f13", 0x7C},
    {"f14", 0x7D},
    {"f15", 0x7E},
    {"f16", 0x7F},
    {"f17", 0x80},
    {"f18", 0x81},
    {"f19", 0x82},
    {"f20", 0x83},
    {"f21", 0x84},
    {"f22", 0x85},
    {"f23", 0x86},
    {"f24", 0x87},
};

constexpr std::array<KeyName, 6> kModifierNames{{
    {"ctrl", kVkControl},
    {"control", kVkControl},
    {"shift", kVkShift},
    {"option", kVkMenu},
    {"win", kVkLeftWin},
    {"super", kVkLeftWin},
}};

// Whole-name replacements of the combination normalisation.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kCombinationAliases{{
    {"cmd", "ctrl"},
    {"command", "ctrl"},
    {"alt", "option"},
    {"esc", "escape"},
    {"ret", "return"},
    {"delete", "backspace"},
}};

std::string remove_all(std::string_view text, std::string_view needle) {
    std::string result;
    std::size_t from = 0;
    while (true) {
        const std::size_t found = text.find(needle, from);
        if (found == std::string_view::npos) {
            result.append(text.substr(from));
            return result;
        }
        result.append(text.substr(from, found - from));
        from = found + needle.size();
    }
}

}  // namespace

std::optional<std::uint16_t> win_key_name_to_vk(std::string_view name) {
    const std::string trimmed = text::trim(name);
    if (trimmed.empty()) {
        return std::nullopt;
    }
    for (const KeyName& entry : kKeyNames) {
        if (entry.name == trimmed) {
            return entry.vk;
        }
    }
    if (trimmed.size() == 1) {
        // Letters and digits are their own key codes. Any other character's byte
        // value names some other key ("." is Delete): key_stroke_for asks the layout.
        const char c = trimmed[0];
        if (c >= 'a' && c <= 'z') {
            return static_cast<std::uint16_t>(c - 'a' + 'A');
        }
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            return static_cast<std::uint16_t>(c);
        }
    }
    return std::nullopt;
}

bool is_extended_key(std::uint16_t vk) {
    return (vk >= 0x21 && vk <= 0x28) || vk == 0x2D || vk == 0x2E || vk == 0x5B || vk == 0x5C;
}

std::string press_lookup_name(std::string_view key) {
    return text::to_lower(remove_all(key, "Key."));
}

std::string normalize_combination_name(std::string_view key) {
    std::string stripped;
    for (const char c : remove_all(key, "Key.")) {
        if (c != '"' && c != '\'') {
            stripped.push_back(c);
        }
    }
    std::string lowered = text::to_lower(stripped);
    for (const auto& [from, to] : kCombinationAliases) {
        if (lowered == from) {
            return std::string(to);
        }
    }
    return lowered;
}

std::optional<std::uint16_t> combination_modifier_vk(std::string_view name) {
    for (const KeyName& entry : kModifierNames) {
        if (entry.name == name) {
            return entry.vk;
        }
    }
    return std::nullopt;
}

ActionResult handle_press(const Json& params) {
    const std::string* key = string_param(params, "key");
    if (key == nullptr) {
        return error_result("Missing key");
    }
    const std::string name = press_lookup_name(*key);
    const auto stroke = key_stroke_for(name);
    if (!stroke) {
        return error_result("Unknown key: " + name);
    }
    // Shift or AltGr where the layout types the character with them.
    HeldKeys held;
    held.press_all(stroke->held);
    send_key(stroke->vk, false);
    platform().sleep_ms(kPressHoldMs);
    send_key(stroke->vk, true);
    return ok_result();
}

ActionResult handle_press_combination(const Json& params) {
    // "keys" names a chord of any length; unlike key1..key3, an unknown name fails it.
    const Json* chord = find_param(params, "keys");
    std::vector<std::string> names;
    if (chord != nullptr) {
        if (!chord->is_array() || chord->empty()) {
            return error_result("keys must be a non-empty array of key names");
        }
        for (const Json& key : *chord) {
            if (!key.is_string()) {
                return error_result("keys must be a non-empty array of key names");
            }
            names.push_back(normalize_combination_name(key.get<std::string>()));
        }
    } else {
        for (const char* member : {"key1", "key2", "key3"}) {
            if (const std::string* key = string_param(params, member)) {
                names.push_back(normalize_combination_name(*key));
            }
        }
        if (names.size() < 2) {
            return error_result("Need at least 2 keys");
        }
    }

    // In a chord a character is its key alone: ctrl + "-" is Control and the
    // minus key, whatever the layout needs Shift for.
    const auto main_key = [](const std::string& name) -> std::optional<std::uint16_t> {
        const auto stroke = key_stroke_for(name);
        return stroke ? std::optional<std::uint16_t>(stroke->vk) : std::nullopt;
    };
    std::vector<std::uint16_t> modifiers;
    std::vector<std::uint16_t> main_keys;
    for (const std::string& name : names) {
        if (const auto modifier = combination_modifier_vk(name)) {
            modifiers.push_back(*modifier);
        } else if (const auto vk = main_key(name)) {
            main_keys.push_back(*vk);
        } else if (chord != nullptr) {
            return error_result("Unknown key: " + name);
        }  // a name of key1..key3 that maps to nothing is dropped
    }
    if (main_keys.empty()) {
        // Only modifiers: the last one is tapped as the main key too.
        if (const auto vk = main_key(names.back())) {
            main_keys.push_back(*vk);
        }
    }

    Platform& os = platform();
    for (const std::uint16_t vk : modifiers) {
        send_key(vk, false);
    }
    os.sleep_ms(kModifierSettleMs);
    for (const std::uint16_t vk : main_keys) {
        send_key(vk, false);
    }
    os.sleep_ms(kCombinationHoldMs);
    for (auto it = main_keys.rbegin(); it != main_keys.rend(); ++it) {
        send_key(*it, true);
    }
    os.sleep_ms(kModifierSettleMs);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        send_key(*it, true);
    }
    return ok_result();
}

}  // namespace cua_actions::windows
