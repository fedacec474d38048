#pragma once
// Pointer moves, scrolling and dragging; key names and presses; typing with
// the clipboard paste fallback.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "cua_actions/action_result.h"
#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

// --- pointer (typing_pointer.cpp) ---------------------------------------------

// Reads a position parameter: an array whose elements are all numbers, at
// least two of them; the first two are returned.
std::optional<std::array<double, 2>> read_position(const Json& params, const char* key);

// One synthesised mouse event at the cursor's current position: one record per
// SendInput call, never absolute.
void send_mouse_event(std::uint32_t flags, std::int32_t wheel_data = 0);

ActionResult handle_move(const Json& params);
ActionResult handle_scroll(const Json& params);
ActionResult handle_drag(const Json& params);

// --- key names and presses (key_names.cpp) -------------------------------------

// Windows virtual-key code of a key name; the name is trimmed, then compared
// exactly (callers lower-case first).
std::optional<std::uint16_t> win_key_name_to_vk(std::string_view name);
// Keys whose events carry the extended-key flag.
bool is_extended_key(std::uint16_t vk);
// The name "press" looks up: every "Key." removed, then lower-cased.
std::string press_lookup_name(std::string_view key);
// The name "press_combination" works with: "Key." and quotes removed,
// lower-cased, Mac and short names replaced by their Windows names.
std::string normalize_combination_name(std::string_view key);
// Modifier code of a normalised combination name, compared exactly.
std::optional<std::uint16_t> combination_modifier_vk(std::string_view name);

ActionResult handle_press(const Json& params);
ActionResult handle_press_combination(const Json& params);

// --- typing and the paste fallback (typing.cpp, typing_clipboard.cpp) ----------

// The quoted, escaped preview of the first 30 characters of a text.
std::string type_preview(std::string_view text);
// Press and release of every UTF-16 unit, in text order; nothing when memory for the list
// cannot be had.
std::optional<std::vector<InputRecord>> unicode_typing_events(std::u16string_view units);
// `units` (the UTF-16 form of `text`) as one SendInput of Unicode events, then the settle
// wait; the clipboard paste of `text` when the events cannot be built or are not all accepted.
ActionResult type_as_unicode_events(std::string_view text, std::u16string_view units);

// One saved clipboard format: its identifier and the bytes of its block.
struct ClipboardFormatSnapshot {
    std::uint32_t format = 0;
    std::vector<std::byte> data;
    friend bool operator==(const ClipboardFormatSnapshot&,
                           const ClipboardFormatSnapshot&) = default;
};

// Every global-memory format on the clipboard, in enumeration order; nothing
// when the clipboard could not be opened.
std::optional<std::vector<ClipboardFormatSnapshot>> snapshot_clipboard();
// Sets the snapshot again, up to three attempts. True when one attempt set
// every entry.
bool restore_clipboard(const std::vector<ClipboardFormatSnapshot>& snapshot);
// Puts the text on the clipboard, then Control+V, then the snapshot back.
ActionResult paste_text_via_clipboard(std::string_view text);

ActionResult handle_type(const Json& params);

// --- buttons, held keys and layout keys (held_input.cpp) ------------------------

enum class MouseButton { left, right, middle, back, forward };

// The down and up flags of a button and the mouse data that names an X button.
struct ButtonEvents {
    std::uint32_t down = 0;
    std::uint32_t up = 0;
    std::int32_t data = 0;
};
ButtonEvents button_events(MouseButton button);
// "button": absent gives `fallback`; else one of "left", "right", "middle",
// "back", "forward".
zelto::Result<MouseButton> read_button(const Json& params, MouseButton fallback);

// A key and the keys that must be held around it to type what was asked for.
struct KeyStroke {
    std::uint16_t vk = 0;
    std::vector<std::uint16_t> held;  // Shift, then Control and Alt (AltGr)
    friend bool operator==(const KeyStroke&, const KeyStroke&) = default;
};
// VkKeyScanExW's answer as a stroke; nothing when no key types the character
// or it needs a shift state beyond Shift, Control and Alt.
std::optional<KeyStroke> layout_key_stroke(char16_t character, Handle layout);
// The key of a lookup name: a named key, a letter or digit by its code, or any
// other single character as the key that types it on the foreground window's
// keyboard layout.
std::optional<KeyStroke> key_stroke_for(std::string_view name);

// One key event; the extended-key flag where the key needs it.
void send_key(std::uint16_t vk, bool key_up);

// Keys put down through it, released in reverse order when it goes, so no
// path leaves one held.
class HeldKeys {
  public:
    HeldKeys() = default;
    ~HeldKeys() { release(); }
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;
    void press(std::uint16_t vk);
    void press_all(std::span<const std::uint16_t> vks);
    void release();
    bool empty() const { return held_.empty(); }

  private:
    std::vector<std::uint16_t> held_;
};

// "modifiers": absent gives none; else an array of key names, each read as
// "press_combination" reads its names.
zelto::Result<std::vector<std::uint16_t>> read_modifiers(const Json& params);

ActionResult handle_mouse_button(const Json& params, bool release);
ActionResult handle_key_transition(const Json& params, bool release);
ActionResult handle_hold_key(const Json& params);
ActionResult handle_cursor_position(const Json& params);

}  // namespace cua_actions::windows
