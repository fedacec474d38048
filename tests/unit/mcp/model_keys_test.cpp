// Model key names, chords and the held-state release order.
#include "mcp/model_keys.h"

#include <gtest/gtest.h>

#include "mcp/held_inputs.h"

namespace mcp {
namespace {

TEST(ModelKeys, XdotoolAndOpenAiNamesInTheExecutorsNames) {
    const std::pair<const char*, const char*> table[] = {
        {"Return", "enter"},
        {"ENTER", "enter"},
        {"BackSpace", "backspace"},
        {"Delete", "forward_delete"},
        {"DELETE", "forward_delete"},
        {"Page_Down", "pagedown"},
        {"Prior", "pageup"},
        {"ARROWUP", "up"},
        {"Escape", "escape"},
        {"ESC", "escape"},
        {"KP_0", "numpad0"},
        {"kp_9", "numpad9"},
        {"minus", "-"},
        {"plus", "+"},
        {"bracketleft", "["},
        {"grave", "`"},
        {"F1", "f1"},
        {"F24", "f24"},
        {"super", "win"},
        {"Super_L", "win"},
        {"CMD", "ctrl"},
        {"Control_L", "ctrl"},
        {"Alt_L", "alt"},
        {"Shift_R", "shift"},
        {"space", "space"},
        {".", "."},
        {"A", "A"},
        {"\xC3\xA9", "\xC3\xA9"},  // one character, two bytes
    };
    for (const auto& [model, executor] : table) {
        EXPECT_EQ(executor_key_name(model), std::optional<std::string>(executor)) << model;
    }
    for (const char* unknown : {"F25", "F0", "F01", "hyper", "", "ctrl shift", "Key.enter"}) {
        EXPECT_EQ(executor_key_name(unknown), std::nullopt) << unknown;
    }
}

TEST(ModelKeys, ChordsSplitOnPlusWithPlusItselfAKey) {
    using Names = std::vector<std::string>;
    const std::pair<const char*, Names> chords[] = {
        {"ctrl+shift+t", {"ctrl", "shift", "t"}},
        {"ctrl++", {"ctrl", "+"}},
        {"+", {"+"}},
        {"ctrl+plus", {"ctrl", "+"}},
        {" ctrl + Delete ", {"ctrl", "forward_delete"}},
        {"Return", {"enter"}},
    };
    for (const auto& [chord, names] : chords) {
        const auto parsed = parse_chord(chord);
        ASSERT_TRUE(parsed) << chord << ": " << parsed.error();
        EXPECT_EQ(*parsed, names) << chord;
    }
    EXPECT_EQ(parse_chord("ctrl+hyper+a").error(), "Unknown key: hyper");
    EXPECT_EQ(parse_chord("ctrl+").error(), "Unknown key: ");
}

TEST(HeldInputs, ReleasedLatestFirstAndForgottenOnceLetUp) {
    HeldInputs held;
    const auto t0 = HeldInputs::Clock::time_point{};
    EXPECT_EQ(held.deadline(), std::nullopt);
    held.note("key_down", Json{{"keys", {"shift", "ctrl"}}}, t0);
    held.note("mouse_down", Json{{"button", "left"}}, t0 + std::chrono::seconds(5));
    held.note("mouse_down", Json::object(), t0 + std::chrono::seconds(6));  // left again
    held.note("key_down", Json{{"key", "a"}}, t0 + std::chrono::seconds(7));
    held.note("key_up", Json{{"key", "a"}}, t0 + std::chrono::seconds(8));
    held.note("click", Json{{"button", "right"}}, t0);
    EXPECT_EQ(held.deadline(), t0 + kLongestHold);
    EXPECT_EQ(held.release_requests(),
              (std::vector<std::string>{
                  "{\"action\":\"mouse_up\",\"params\":{\"button\":\"left\"}}\n",
                  "{\"action\":\"key_up\",\"params\":{\"key\":\"ctrl\"}}\n",
                  "{\"action\":\"key_up\",\"params\":{\"key\":\"shift\"}}\n",
              }));
    EXPECT_TRUE(held.empty());
    EXPECT_TRUE(held.release_requests().empty());
}

}  // namespace
}  // namespace mcp
