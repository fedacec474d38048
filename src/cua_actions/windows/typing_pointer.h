#pragma once
// Pointer moves, scrolling and dragging; key names and presses; typing with
// the clipboard paste fallback.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace cua_actions::windows
