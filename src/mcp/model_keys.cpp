#include "mcp/model_keys.h"

#include <utility>

#include "text/text.h"

namespace mcp {
namespace {

struct KeyAlias {
    std::string_view model;  // lower case
    std::string_view executor;
};

// xdotool keysyms and OpenAI key names, lower-cased, with the executor's name for each.
constexpr KeyAlias kModelKeys[] = {
    // Enter, editing and navigation
    {"return", "enter"},
    {"enter", "enter"},
    {"kp_enter", "enter"},
    {"backspace", "backspace"},
    {"delete", "forward_delete"},
    {"del", "forward_delete"},
    {"kp_delete", "forward_delete"},
    {"insert", "insert"},
    {"kp_insert", "insert"},
    {"tab", "tab"},
    {"escape", "escape"},
    {"esc", "escape"},
    {"space", "space"},
    {"page_up", "pageup"},
    {"pageup", "pageup"},
    {"prior", "pageup"},
    {"kp_page_up", "pageup"},
    {"page_down", "pagedown"},
    {"pagedown", "pagedown"},
    {"next", "pagedown"},
    {"kp_page_down", "pagedown"},
    {"home", "home"},
    {"kp_home", "home"},
    {"end", "end"},
    {"kp_end", "end"},
    {"left", "left"},
    {"up", "up"},
    {"right", "right"},
    {"down", "down"},
    {"kp_left", "left"},
    {"kp_up", "up"},
    {"kp_right", "right"},
    {"kp_down", "down"},
    {"arrowleft", "left"},
    {"arrowup", "up"},
    {"arrowright", "right"},
    {"arrowdown", "down"},
    {"caps_lock", "capslock"},
    {"capslock", "capslock"},
    {"num_lock", "numlock"},
    {"numlock", "numlock"},
    {"scroll_lock", "scrolllock"},
    {"scrolllock", "scrolllock"},
    {"print", "printscreen"},
    {"printscreen", "printscreen"},
    {"pause", "pause"},
    {"menu", "apps"},
    {"contextmenu", "apps"},
    // Modifiers. "cmd" keeps the host's meaning, Control: models send it for Mac shortcuts.
    {"ctrl", "ctrl"},
    {"control", "ctrl"},
    {"control_l", "ctrl"},
    {"control_r", "ctrl"},
    {"ctrl_l", "ctrl"},
    {"ctrl_r", "ctrl"},
    {"cmd", "ctrl"},
    {"command", "ctrl"},
    {"shift", "shift"},
    {"shift_l", "shift"},
    {"shift_r", "shift"},
    {"alt", "alt"},
    {"alt_l", "alt"},
    {"alt_r", "alt"},
    {"option", "alt"},
    {"super", "win"},
    {"super_l", "win"},
    {"super_r", "win"},
    {"win", "win"},
    {"windows", "win"},
    {"meta", "win"},
    {"meta_l", "win"},
    {"meta_r", "win"},
    // Characters by their keysym names
    {"minus", "-"},
    {"plus", "+"},
    {"equal", "="},
    {"period", "."},
    {"comma", ","},
    {"slash", "/"},
    {"backslash", "\\"},
    {"semicolon", ";"},
    {"apostrophe", "'"},
    {"quoteright", "'"},
    {"grave", "`"},
    {"quoteleft", "`"},
    {"bracketleft", "["},
    {"bracketright", "]"},
    {"braceleft", "{"},
    {"braceright", "}"},
    {"parenleft", "("},
    {"parenright", ")"},
    {"exclam", "!"},
    {"at", "@"},
    {"numbersign", "#"},
    {"dollar", "$"},
    {"percent", "%"},
    {"asciicircum", "^"},
    {"ampersand", "&"},
    {"asterisk", "*"},
    {"underscore", "_"},
    {"colon", ":"},
    {"quotedbl", "\""},
    {"less", "<"},
    {"greater", ">"},
    {"question", "?"},
    {"bar", "|"},
    {"asciitilde", "~"},
    // Keypad
    {"kp_0", "numpad0"},
    {"kp_1", "numpad1"},
    {"kp_2", "numpad2"},
    {"kp_3", "numpad3"},
    {"kp_4", "numpad4"},
    {"kp_5", "numpad5"},
    {"kp_6", "numpad6"},
    {"kp_7", "numpad7"},
    {"kp_8", "numpad8"},
    {"kp_9", "numpad9"},
    {"kp_add", "add"},
    {"kp_subtract", "subtract"},
    {"kp_multiply", "multiply"},
    {"kp_divide", "divide"},
    {"kp_decimal", "decimal"},
};

constexpr std::string_view kModifiers[] = {"ctrl", "shift", "alt", "win"};

// "f1" to "f24".
bool is_function_key(std::string_view name) {
    if (name.size() < 2 || name.size() > 3 || name[0] != 'f') {
        return false;
    }
    int number = 0;
    for (const char c : name.substr(1)) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + (c - '0');
    }
    return name[1] != '0' && number >= 1 && number <= 24;
}

}  // namespace

std::optional<std::string> executor_key_name(std::string_view model_name) {
    const std::string name = text::trim(model_name);
    if (text::utf8_char_count(name) == 1) {
        return name;  // one character: the key that types it
    }
    const std::string lowered = text::ascii_lower(name);
    for (const KeyAlias& alias : kModelKeys) {
        if (alias.model == lowered) {
            return std::string(alias.executor);
        }
    }
    if (is_function_key(lowered)) {
        return lowered;
    }
    return std::nullopt;
}

zelto::Result<std::vector<std::string>> parse_chord(std::string_view chord) {
    // A "+" right after a separator (or at the start) is the plus key itself.
    std::vector<std::string> parts;
    std::string current;
    for (const char c : chord) {
        if (c == '+' && !text::trim(current).empty()) {
            parts.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(std::move(current));
    std::vector<std::string> names;
    for (const std::string& part : parts) {
        const auto name = executor_key_name(part);
        if (!name) {
            return zelto::fail("Unknown key: " + text::trim(part));
        }
        names.push_back(*name);
    }
    return names;
}

bool is_modifier_name(std::string_view executor_name) {
    for (const std::string_view modifier : kModifiers) {
        if (modifier == executor_name) {
            return true;
        }
    }
    return false;
}

}  // namespace mcp
