// The actions models emit beyond the first five: buttons and click counts,
// held modifiers, sideways scroll, drag paths, held keys, the cursor's place
// and a screenshot of a region, on the simulated desktop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cua_actions/windows/click_indicator.h"
#include "cua_actions/windows/dispatcher.h"
#include "support/screenshot_png_readback.h"
#include "support/sim_desktop.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// "t=50 m2/0" for mouse flags 0x2 with data 0, "t=50 k10" / "t=50 ^10" for a
// key down / up, "t=0 @960,540" for a cursor move.
std::vector<std::string> trace(const sim::SimDesktop& desktop) {
    std::vector<std::string> lines;
    for (const sim::SimEvent& event : desktop.events) {
        char line[48];
        if (event.kind == sim::SimEvent::Kind::cursor) {
            std::snprintf(line, sizeof line, "t=%llu @%d,%d",
                          static_cast<unsigned long long>(event.at_ms), event.cursor.x,
                          event.cursor.y);
        } else if (event.input.type == kInputMouse) {
            std::snprintf(line, sizeof line, "t=%llu m%x/%d",
                          static_cast<unsigned long long>(event.at_ms), event.input.mouse.flags,
                          event.input.mouse.mouse_data);
        } else {
            const bool up = (event.input.keyboard.flags & kKeyEventKeyUp) != 0;
            std::snprintf(line, sizeof line, "t=%llu %c%X",
                          static_cast<unsigned long long>(event.at_ms), up ? '^' : 'k',
                          event.input.keyboard.vk);
        }
        lines.emplace_back(line);
    }
    return lines;
}

using Trace = std::vector<std::string>;

class ModelActionsTest : public ::testing::Test {
  protected:
    ModelActionsTest() { reset_click_indicator_class_for_testing(); }
    sim::ScopedSimDesktop desktop;
};

TEST_F(ModelActionsTest, ClicksWithButtonsCountsAndModifiers) {
    struct Case {
        Json params;
        Trace trace;
        std::uint64_t total_ms;
        std::size_t ring_after_events;  // events recorded when the ring's thread starts
    };
    const Case cases[] = {
        {{{"position", {0.5, 0.5}}, {"clicks", 2}},
         {"t=0 @960,540", "t=50 m2/0", "t=100 m4/0", "t=150 m2/0", "t=200 m4/0"},
         300,
         1},
        {{{"position", {0.5, 0.5}}, {"button", "middle"}},
         {"t=0 @960,540", "t=50 m20/0", "t=100 m40/0"},
         200,
         1},
        {{{"position", {0.5, 0.5}}, {"button", "back"}},
         {"t=0 @960,540", "t=50 m80/1", "t=100 m100/1"},
         200,
         1},
        {{{"position", {0.5, 0.5}}, {"button", "forward"}},
         {"t=0 @960,540", "t=50 m80/2", "t=100 m100/2"},
         200,
         1},
        // Modifiers go down before the button and up after the settle, in
        // reverse; the ring waits until they are up (a window appearing under
        // the pointer can make the system drop injected keys).
        {{{"position", {0.5, 0.5}}, {"modifiers", {"shift", "ctrl"}}},
         {"t=0 @960,540", "t=50 k10", "t=50 k11", "t=70 m2/0", "t=120 m4/0", "t=220 ^11",
          "t=220 ^10"},
         220,
         7},
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop fresh;
        EXPECT_EQ(dispatch("click", c.params)["ok"], true) << c.params;
        EXPECT_EQ(trace(*fresh), c.trace) << c.params;
        EXPECT_EQ(fresh->now_ms(), c.total_ms) << c.params;
        EXPECT_EQ(fresh->threads_started_after_events,
                  std::vector<std::size_t>{c.ring_after_events})
            << c.params;
    }
    // A short double-click time shortens the presses so three still count.
    sim::ScopedSimDesktop fresh;
    fresh->double_click_time_ms = 160;
    EXPECT_EQ(dispatch("click", Json{{"position", {0, 0}}, {"clicks", 3}})["ok"], true);
    EXPECT_EQ(trace(*fresh), (Trace{"t=0 @0,0", "t=50 m2/0", "t=90 m4/0", "t=130 m2/0",
                                    "t=170 m4/0", "t=210 m2/0", "t=250 m4/0"}));
}

TEST_F(ModelActionsTest, BadNewParametersFailBeforeAnyInput) {
    const std::pair<const char*, Json> cases[] = {
        {"Invalid button: \"wheel\" (left, right, middle, back or forward)",
         {{"position", {0.5, 0.5}}, {"button", "wheel"}}},
        {"clicks must be 1, 2 or 3, got 4", {{"position", {0.5, 0.5}}, {"clicks", 4}}},
        {"clicks must be 1, 2 or 3, got 2.0", {{"position", {0.5, 0.5}}, {"clicks", 2.0}}},
        {"Unknown key: hyper", {{"position", {0.5, 0.5}}, {"modifiers", {"shift", "hyper"}}}},
        {"modifiers must be an array of key names",
         {{"position", {0.5, 0.5}}, {"modifiers", "shift"}}},
    };
    for (const auto& [message, params] : cases) {
        sim::ScopedSimDesktop fresh;
        EXPECT_EQ(dispatch("click", params), (Json{{"ok", false}, {"error", message}})) << params;
        EXPECT_TRUE(fresh->events.empty()) << params;
    }
    sim::ScopedSimDesktop after;  // a scope's end leaves no platform installed
    EXPECT_EQ(
        dispatch("scroll", Json{{"position", {0.5, 0.5}}, {"direction", "sideways"}})["error"],
        "Invalid direction: \"sideways\" (up, down, left or right)");
    EXPECT_EQ(dispatch("drag", Json{{"path", {{0.1, 0.1}}}})["error"],
              "Invalid path: give two or more points");
    EXPECT_EQ(dispatch("drag", Json{{"path", {{0.1, 0.1}, {0.2}}}})["error"],
              "Invalid path: every point needs two numbers");
    EXPECT_TRUE(after->events.empty());
}

TEST_F(ModelActionsTest, SidewaysScrollWithModifiers) {
    EXPECT_EQ(dispatch("scroll", Json{{"position", {0, 0}},
                                      {"direction", "left"},
                                      {"amount", 2},
                                      {"modifiers", {"shift"}}})["ok"],
              true);
    EXPECT_EQ(trace(*desktop),
              (Trace{"t=0 @0,0", "t=0 k10", "t=50 m1000/-120", "t=53 m1000/-120", "t=56 ^10"}));
    sim::ScopedSimDesktop fresh;
    // With a direction the amount is a count of notches that way.
    EXPECT_EQ(dispatch("scroll",
                       Json{{"position", {0, 0}}, {"direction", "right"}, {"amount", -1}})["ok"],
              true);
    EXPECT_EQ(trace(*fresh), (Trace{"t=0 @0,0", "t=50 m1000/120"}));
}

TEST_F(ModelActionsTest, DragAlongAPathWithAnotherButton) {
    desktop->monitors = {{Rect{0, 0, 1000, 1000}, kMonitorInfoFlagPrimary}};
    const ActionResult result =
        dispatch("drag", Json{{"path", {{0, 0}, {300, 0}, {300, 600}}}, {"button", "right"}});
    ASSERT_EQ(result["ok"], true) << result;
    EXPECT_EQ(result["data"]["path"].size(), 3u);
    EXPECT_EQ(result["data"]["end"]["global"], Json({300, 600}));
    const Trace all = trace(*desktop);
    EXPECT_EQ(all[1], "t=50 m8/0");
    // The corner is the end of the first leg's 30 steps; 30 more lead to the end.
    EXPECT_EQ(std::count(all.begin(), all.end(), "t=390 @300,0"), 1);
    EXPECT_EQ(std::count_if(
                  all.begin(), all.end(),
                  [](const std::string& line) { return line.find(" m1/0") != std::string::npos; }),
              60);
    EXPECT_EQ(all.back(), "t=750 m10/0");
}

TEST_F(ModelActionsTest, ButtonDownMoveUpAcrossRequests) {
    EXPECT_EQ(dispatch("mouse_down", Json{{"position", {0.5, 0.5}}})["data"]["global"],
              Json({960, 540}));
    EXPECT_EQ(dispatch("move", Json{{"position", {0.25, 0.5}}})["ok"], true);
    EXPECT_EQ(dispatch("mouse_up", Json::object()), (Json{{"ok", true}}));
    EXPECT_EQ(trace(*desktop), (Trace{"t=0 @960,540", "t=50 m2/0", "t=50 @480,540", "t=50 m4/0"}));
    EXPECT_EQ(dispatch("mouse_up", Json{{"position", "x"}})["error"], "Missing position");
}

TEST_F(ModelActionsTest, KeysDownUpAndHeld) {
    EXPECT_EQ(dispatch("key_down", Json{{"key", "Shift"}}), (Json{{"ok", true}}));
    EXPECT_EQ(dispatch("key_up", Json{{"key", "shift"}}), (Json{{"ok", true}}));
    EXPECT_EQ(dispatch("key_up", Json{{"keys", {"ctrl", "alt"}}}), (Json{{"ok", true}}));
    EXPECT_EQ(dispatch("hold_key", Json{{"keys", {"ctrl", "right"}}, {"duration", 1.5}}),
              (Json{{"ok", true}}));
    EXPECT_EQ(trace(*desktop), (Trace{"t=0 k10", "t=0 ^10", "t=0 ^12", "t=0 ^11", "t=0 k11",
                                      "t=0 k27", "t=1500 ^27", "t=1500 ^11"}));
    const std::pair<Json, const char*> failures[] = {
        {{{"key", "a"}, {"duration", 10.5}}, "duration must be a number of seconds from 0 to 10"},
        {{{"key", "a"}}, "duration must be a number of seconds from 0 to 10"},
        {{{"key", "nosuch"}, {"duration", 1}}, "Unknown key: nosuch"},
        {{{"keys", Json::array()}, {"duration", 1}}, "keys must be a non-empty array of key names"},
    };
    for (const auto& [params, message] : failures) {
        EXPECT_EQ(dispatch("hold_key", params)["error"], message) << params;
    }
    EXPECT_EQ(desktop->events.size(), 8u);
}

TEST_F(ModelActionsTest, CursorPositionNamesItsDisplay) {
    desktop->monitors = {{Rect{0, 0, 1920, 1080}, kMonitorInfoFlagPrimary},
                         {Rect{-1280, 0, 0, 1024}, 0}};
    desktop->cursor = Point{-640, 256};
    EXPECT_EQ(dispatch("cursor_position", Json::object()),
              (Json{{"ok", true},
                    {"data",
                     {{"display_id", "-1280,0,1280,1024"},
                      {"display_relative", {640, 256}},
                      {"global", {-640, 256}},
                      {"normalized", {0.5, 0.25}},
                      {"origin", {-1280, 0}},
                      {"screen", {1280, 1024}}}}}));
}

TEST_F(ModelActionsTest, RegionScreenshotAtNativeResolution) {
    desktop->monitors = {{Rect{0, 0, 40, 30}, kMonitorInfoFlagPrimary}};
    sim::SimFrame& frame = desktop->screen_frame;
    frame = sim::SimFrame{0, 0, 40, 30, std::vector<std::uint8_t>(40 * 30 * 4)};
    for (std::size_t i = 0; i < frame.bgrx.size(); i += 4) {
        frame.bgrx[i] = static_cast<std::uint8_t>(i / 4 % 40 * 5);      // blue: column
        frame.bgrx[i + 1] = static_cast<std::uint8_t>(i / 4 / 40 * 7);  // green: row
    }
    for (const Json& region : {Json{10, 5, 30, 25}, Json{0.25, 1.0 / 6, 0.75, 5.0 / 6}}) {
        const ActionResult result = dispatch("screenshot", Json{{"region", region}});
        ASSERT_EQ(result["ok"], true) << result;
        EXPECT_EQ(result["data"]["region"], Json({10, 5, 30, 25}));
        EXPECT_EQ(result["data"]["width"], 20);
        EXPECT_EQ(result["data"]["sourceWidth"], 20);
        const std::string url = result["data"]["image"];
        const auto png = text::base64_decode(url.substr(url.find(',') + 1));
        ASSERT_TRUE(png);
        const sim::PngReadBack read = sim::read_back_png(
            std::span(reinterpret_cast<const std::uint8_t*>(png->data()), png->size()));
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.rgba[2], 50);  // column 10
        EXPECT_EQ(read.rgba[1], 35);  // row 5
        EXPECT_EQ(read.rgba[(20 * 20 - 1) * 4 + 2], 29 * 5);
    }
    EXPECT_EQ(dispatch("screenshot", Json{{"region", {30, 5, 10, 25}}})["error"],
              "region must be [x0, y0, x1, y1] with x0 < x1 and y0 < y1 on the display");
    const ActionResult small =
        dispatch("screenshot", Json{{"region", {0, 0, 40, 30}}, {"max_size", 20}});
    EXPECT_EQ(small["data"]["width"], 20);
    EXPECT_EQ(small["data"]["height"], 15);
}

}  // namespace
}  // namespace cua_actions::windows
