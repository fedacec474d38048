// Key names, "press" and "press_combination".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cua_actions/windows/dispatcher.h"
#include "cua_actions/windows/typing_pointer.h"
#include "support/sim_desktop.h"

namespace cua_actions::windows {
namespace {

TEST(KeyNameTable, EveryNameAndItsCode) {
    const std::pair<const char*, int> table[] = {
        {"cmd", 0x11},
        {"command", 0x11},
        {"ctrl", 0x11},
        {"control", 0x11},
        {"shift", 0x10},
        {"alt", 0x12},
        {"option", 0x12},
        {"win", 0x5B},
        {"super", 0x5B},
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
        {"f12", 0x7B},
        {"f5", 0x74},
        {"a", 0x41},
        {"z", 0x5A},
        {"A", 0x41},
        {"5", 0x35},
        {" enter ", 0x0D},
        {"\t f4\n", 0x73},
        {"insert", 0x2D},
        {"numpad0", 0x60},
        {"divide", 0x6F},
        {"f13", 0x7C},
        {"f24", 0x87},
        {"\xE3\x80\x80q", 0x51},  // U+3000 is trimmed too
    };
    for (const auto& [name, code] : table) {
        EXPECT_EQ(win_key_name_to_vk(name), std::optional<std::uint16_t>(code)) << name;
    }
    for (const char* unknown : {"", " ", "Enter", "f25", "f0", "pgup", "lctrl",
                                "\xC3\xA9", "ab", "key.enter", "\"a\"", ".", "[", "!"}) {
        EXPECT_EQ(win_key_name_to_vk(unknown), std::nullopt) << unknown;
    }
}

TEST(KeyNameTable, ExtendedKeySet) {
    std::vector<int> extended;
    for (int vk = 0; vk <= 0xFF; ++vk) {
        if (is_extended_key(static_cast<std::uint16_t>(vk))) {
            extended.push_back(vk);
        }
    }
    EXPECT_EQ(extended, (std::vector<int>{0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x2D,
                                          0x2E, 0x5B, 0x5C}));
}

TEST(KeyNameTable, Normalisations) {
    EXPECT_EQ(press_lookup_name("Key.enter"), "enter");
    EXPECT_EQ(press_lookup_name("key.enter"), "key.enter");
    EXPECT_EQ(press_lookup_name("\"A\""), "\"a\"");
    EXPECT_EQ(press_lookup_name("Key.Key.TAB"), "tab");
    const std::pair<const char*, const char*> combos[] =
        {
            {"cmd", "ctrl"},          {"'Key.cmd'", "ctrl"},   {"COMMAND", "ctrl"},
            {"alt", "option"},        {"Esc", "escape"},       {"ret", "return"},
            {"delete", "backspace"},  {"\"a\"", "a"},          {" ctrl", " ctrl"},
            {"K\"ey.cmd", "key.cmd"}, {"Ke'y.cmd", "key.cmd"},  // quotes go after "Key." is removed
        };
    for (const auto& [in, out] : combos) {
        EXPECT_EQ(normalize_combination_name(in), out) << in;
    }
}

// "v41" / "^41" for key down / up of a code, "+e" marks the extended flag.
std::vector<std::string> key_trace(const sim::SimDesktop& desktop) {
    std::vector<std::string> lines;
    std::uint64_t last_ms = 0;
    for (const sim::SimEvent& event : desktop.events) {
        EXPECT_EQ(event.kind, sim::SimEvent::Kind::input);
        const KeyboardInput& key = event.input.keyboard;
        EXPECT_EQ(event.input.type, kInputKeyboard);
        EXPECT_EQ(key.scan, 0);
        if (event.at_ms != last_ms) {
            lines.push_back(std::to_string(event.at_ms - last_ms) + "ms");
            last_ms = event.at_ms;
        }
        char line[16];
        std::snprintf(line, sizeof line, "%c%02X%s", (key.flags & kKeyEventKeyUp) ? '^' : 'v',
                      key.vk, (key.flags & kKeyEventExtendedKey) ? "+e" : "");
        lines.emplace_back(line);
    }
    return lines;
}

using Trace = std::vector<std::string>;

TEST(PressAction, SingleKeys) {
    struct Case {
        Json key;
        Json result;
        Trace trace;
    };
    const Json ok{{"ok", true}};
    const Case cases[] = {
        {"Enter", ok, {"v0D", "50ms", "^0D"}},
        {"ENTER", ok, {"v0D", "50ms", "^0D"}},
        {" enter ", ok, {"v0D", "50ms", "^0D"}},
        {"Key.enter", ok, {"v0D", "50ms", "^0D"}},
        {"Delete", ok, {"v08", "50ms", "^08"}},
        {"forward_delete", ok, {"v2E+e", "50ms", "^2E+e"}},
        {"a", ok, {"v41", "50ms", "^41"}},
        // Other characters are the key that types them on the layout (US here).
        {".", ok, {"vBE", "50ms", "^BE"}},
        {"[", ok, {"vDB", "50ms", "^DB"}},
        {"!", ok, {"v10", "v31", "50ms", "^31", "^10"}},
        {"key.enter", {{"ok", false}, {"error", "Unknown key: key.enter"}}, {}},
        {"\xC3\xA9", {{"ok", false}, {"error", "Unknown key: \xC3\xA9"}}, {}},  // not on US
        {"\xC3\x89", {{"ok", false}, {"error", "Unknown key: \xC3\xA9"}}, {}},  // É lower-cased
        {"\"a\"", {{"ok", false}, {"error", "Unknown key: \"a\""}}, {}},
        {"", {{"ok", false}, {"error", "Unknown key: "}}, {}},
        {" X ", ok, {"v58", "50ms", "^58"}},
        {5, {{"ok", false}, {"error", "Missing key"}}, {}},
        {nullptr, {{"ok", false}, {"error", "Missing key"}}, {}},
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop desktop;
        EXPECT_EQ(dispatch("press", Json{{"key", c.key}}), c.result) << c.key;
        EXPECT_EQ(key_trace(*desktop), c.trace) << c.key;
    }
    sim::ScopedSimDesktop desktop;
    EXPECT_EQ(dispatch("press", Json(nullptr))["error"], "Missing key");
    // A 10,000-character name is an unknown key, reported lower-cased in full.
    const std::string long_name(10000, 'Q');
    EXPECT_EQ(dispatch("press", Json{{"key", long_name}})["error"],
              "Unknown key: " + std::string(10000, 'q'));
}

TEST(PressAction, RefusedEventsStillSucceed) {
    sim::ScopedSimDesktop desktop;
    desktop->fail.send_input = true;
    EXPECT_EQ(dispatch("press", Json{{"key", "tab"}}), (Json{{"ok", true}}));
    EXPECT_EQ(dispatch("press_combination", Json{{"key1", "ctrl"}, {"key2", "c"}}),
              (Json{{"ok", true}}));
}

TEST(PressCombination, Sequences) {
    struct Case {
        Json params;
        Trace trace;
    };
    const Case cases[] = {
        {{{"key1", "ctrl"}, {"key2", "c"}}, {"v11", "20ms", "v43", "50ms", "^43", "20ms", "^11"}},
        {{{"key1", "cmd"}, {"key2", "v"}}, {"v11", "20ms", "v56", "50ms", "^56", "20ms", "^11"}},
        {{{"key1", "'Key.cmd'"}, {"key2", "v"}},
         {"v11", "20ms", "v56", "50ms", "^56", "20ms", "^11"}},
        {{{"key1", "alt"}, {"key2", "f4"}}, {"v12", "20ms", "v73", "50ms", "^73", "20ms", "^12"}},
        {{{"key1", "ctrl"}, {"key2", "shift"}},
         {"v11", "v10", "20ms", "v10", "50ms", "^10", "20ms", "^10", "^11"}},
        {{{"key1", "ctrl"}, {"key2", "unknown"}}, {"v11", "90ms", "^11"}},  // 20 + 50 + 20
        {{{"key1", " ctrl"}, {"key2", "c"}}, {"20ms", "v11", "v43", "50ms", "^43", "^11", "20ms"}},
        {{{"key1", "ctrl"}, {"key3", "a"}}, {"v11", "20ms", "v41", "50ms", "^41", "20ms", "^11"}},
        {{{"key1", "ctrl"}, {"key2", "shift"}, {"key3", "Key.esc"}},
         {"v11", "v10", "20ms", "v1B", "50ms", "^1B", "20ms", "^10", "^11"}},
        {{{"key1", "a"}, {"key2", "b"}, {"key3", "home"}},
         {"20ms", "v41", "v42", "v24+e", "50ms", "^24+e", "^42", "^41", "20ms"}},
        {{{"key1", "win"}, {"key2", "right"}},
         {"v5B+e", "20ms", "v27+e", "50ms", "^27+e", "20ms", "^5B+e"}},
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop desktop;
        EXPECT_EQ(dispatch("press_combination", c.params), (Json{{"ok", true}})) << c.params;
        Trace trace = key_trace(*desktop);
        // A wait after the last event shows only in the clock.
        const std::uint64_t traced_ms = desktop->events.empty() ? 0 : desktop->events.back().at_ms;
        if (desktop->now_ms() != traced_ms) {
            trace.push_back(std::to_string(desktop->now_ms() - traced_ms) + "ms");
        }
        EXPECT_EQ(trace, c.trace) << c.params;
    }
}

TEST(LayoutKeys, TheForegroundWindowsLayoutSaysWhichKeyTypesACharacter) {
    sim::ScopedSimDesktop desktop;
    sim::SimAppWindow window;
    window.thread_id = 7;
    desktop->foreground_window = desktop->add_app_window(window);
    constexpr Handle kGerman = 0x04070407;
    desktop->thread_layouts[7] = kGerman;
    desktop->keyboard_layouts[kGerman] = {
        {u'-', 0x00BD}, {u'@', 0x0651}, {u'\u00FC', 0x00BA}, {u'\u00B5', 0x0851}};
    // AltGr is Control with Alt; a shift state beyond those three is no key.
    EXPECT_EQ(layout_key_stroke(u'@', kGerman), (KeyStroke{0x51, {0x11, 0x12}}));
    EXPECT_EQ(layout_key_stroke(u'\u00B5', kGerman), std::nullopt);
    EXPECT_EQ(layout_key_stroke(u'.', kGerman), std::nullopt);
    EXPECT_EQ(dispatch("press", Json{{"key", "@"}}), (Json{{"ok", true}}));
    EXPECT_EQ(dispatch("press", Json{{"key", "\xC3\x9C"}}), (Json{{"ok", true}}));  // Ü lower-cased
    EXPECT_EQ(dispatch("press", Json{{"key", "."}})["error"], "Unknown key: .");
    // Letters keep their codes without asking the layout.
    EXPECT_EQ(dispatch("press", Json{{"key", "z"}}), (Json{{"ok", true}}));
    EXPECT_EQ(key_trace(*desktop), (Trace{"v11", "v12", "v51", "50ms", "^51", "^12", "^11", "vBA",
                                          "50ms", "^BA", "v5A", "50ms", "^5A"}));
    // Three asked directly above, three by the presses.
    EXPECT_EQ(desktop->layout_queries, std::vector<Handle>(6, kGerman));
}

TEST(PressCombination, ChordsOfAnyLength) {
    struct Case {
        Json params;
        Json result;
        Trace trace;
    };
    const Json ok{{"ok", true}};
    const Case cases[] = {
        // ctrl + "-" is Control and the minus key, no longer Control+Insert.
        {{{"key1", "ctrl"}, {"key2", "-"}},
         ok,
         {"v11", "20ms", "vBD", "50ms", "^BD", "20ms", "^11"}},
        {{{"keys", {"ctrl", "shift", "t"}}},
         ok,
         {"v11", "v10", "20ms", "v54", "50ms", "^54", "20ms", "^10", "^11"}},
        {{{"keys", {"ctrl", "alt", "shift", "win", "f12"}}},
         ok,
         {"v11", "v12", "v10", "v5B+e", "20ms", "v7B", "50ms", "^7B", "20ms", "^5B+e", "^10", "^12",
          "^11"}},
        {{{"keys", {"ctrl", "nosuch"}}}, {{"ok", false}, {"error", "Unknown key: nosuch"}}, {}},
        {{{"keys", Json::array()}, {"key1", "ctrl"}, {"key2", "c"}},
         {{"ok", false}, {"error", "keys must be a non-empty array of key names"}},
         {}},
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop desktop;
        EXPECT_EQ(dispatch("press_combination", c.params), c.result) << c.params;
        EXPECT_EQ(key_trace(*desktop), c.trace) << c.params;
    }
}

TEST(PressCombination, NeedsTwoStringNames) {
    const Json cases[] = {
        Json::object(),
        Json{{"key1", "ctrl"}},
        Json{{"key1", 5}, {"key2", "a"}},
        Json{{"key2", "a"}, {"key3", nullptr}},
        Json(nullptr),
        Json::array({"ctrl", "c"}),
    };
    for (const Json& params : cases) {
        sim::ScopedSimDesktop desktop;
        EXPECT_EQ(dispatch("press_combination", params),
                  (Json{{"ok", false}, {"error", "Need at least 2 keys"}}))
            << params;
        EXPECT_TRUE(desktop->events.empty());
    }
}

}  // namespace
}  // namespace cua_actions::windows
