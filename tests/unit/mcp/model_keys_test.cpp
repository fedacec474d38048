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

#include "mcp/model_arguments.h"
#include "mcp/server.h"

namespace mcp {
namespace {

TEST(ModelArguments, ToolCallsInTheExecutorsTerms) {
    ScreenshotMemory memory;
    memory.remember(std::nullopt, ImageGeometry{960, 540, 1920, 1080});
    struct Case {
        const char* tool;
        Json arguments;
        const char* action;
        Json params;
    };
    const Case cases[] = {
        {"press", {{"key", "Return"}}, "press", {{"key", "enter"}}},
        {"press", {{"key", "exclam"}}, "press", {{"key", "!"}}},
        {"press",
         {{"key", "ctrl+Delete"}},
         "press_combination",
         {{"keys", {"ctrl", "forward_delete"}}}},
        {"press", {{"keys", {"CTRL", "C"}}}, "press_combination", {{"keys", {"ctrl", "C"}}}},
        {"press", {{"key", "shift"}}, "press_combination", {{"keys", {"shift"}}}},
        {"key_down", {{"key", "Shift_L"}}, "key_down", {{"keys", {"shift"}}}},
        {"click",
         {{"position", {0.5, 0.5}}, {"button", "wheel"}, {"modifiers", {"ctrl+shift"}}},
         "click",
         {{"position", {0.5, 0.5}}, {"button", "middle"}, {"modifiers", {"ctrl", "shift"}}}},
        {"drag",
         {{"path", {{0, 0}, {480, 270}}}},
         "drag",
         {{"path", {{1.0 / 1920, 1.0 / 1080}, {961.0 / 1920, 541.0 / 1080}}}}},  // block middles
        {"zoom", {{"region", {10, 20, 110, 70}}}, "screenshot", {{"region", {20, 40, 220, 140}}}},
    };
    for (const Case& c : cases) {
        const auto call = executor_call(c.tool, c.arguments, memory);
        ASSERT_TRUE(call) << c.arguments << ": " << call.error();
        EXPECT_EQ(call->action, c.action) << c.arguments;
        EXPECT_EQ(call->params, c.params) << c.arguments;
    }
    EXPECT_EQ(executor_call("press", {{"key", "ctrl+hyper"}}, memory).error(),
              "Unknown key: hyper");
    EXPECT_EQ(executor_call("zoom", {{"region", {10, 20, 5, 70}}}, memory).error(),
              "region [x0, y0, x1, y1] needs x0 < x1 <= 960 and y0 < y1 <= 540 (the screenshot "
              "image's size)");
    EXPECT_EQ(with_image_coordinate(Json{{"display_id", "0,0,1920,1080"},
                                         {"display_relative", {1000, 501}},
                                         {"screen", {1920, 1080}}},
                                    memory)["coordinate"],
              Json({500, 250}));
}

class NullSink : public LineSink {
  public:
    void write_line(const std::string&) override {}
};

TEST(ServerHeldInputs, LetUpWhenTheClientGoes) {
    std::vector<std::string> lines;
    std::mutex mutex;
    NullSink sink;
    {
        Server server(
            sink,
            [&](const Tool&, const std::string& line, const std::atomic<bool>&) {
                std::lock_guard guard(mutex);
                lines.push_back(line);
                return ExecutorRun{ExecutorRun::Outcome::finished, 0, "{\"ok\":true}\n", {}, {}};
            },
            "1");
        server.handle_line(
            R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"key_down","arguments":{"key":"shift"}}})");
        server.handle_line(
            R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"mouse_down","arguments":{}}})");
        server.close();
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "{\"action\":\"key_down\",\"params\":{\"keys\":[\"shift\"]}}\n",
                         "{\"action\":\"mouse_down\",\"params\":{}}\n",
                         "{\"action\":\"mouse_up\",\"params\":{\"button\":\"left\"}}\n",
                         "{\"action\":\"key_up\",\"params\":{\"key\":\"shift\"}}\n"}));
}

}  // namespace
}  // namespace mcp
