// Click, right click, scroll and drag on the simulated desktop: exact event
// records, order and virtual timestamps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cua_actions/windows/click_indicator.h"
#include "cua_actions/windows/dispatcher.h"
#include "support/sim_desktop.h"
#include "text/json_output.h"

namespace cua_actions::windows {
namespace {

// One line per event: "t=50 cursor 960,540" or "t=50 mouse flags=0x2 data=0".
std::vector<std::string> trace(const sim::SimDesktop& desktop) {
    std::vector<std::string> lines;
    for (const sim::SimEvent& event : desktop.events) {
        std::string line = "t=" + std::to_string(event.at_ms) + " ";
        if (event.kind == sim::SimEvent::Kind::cursor) {
            line +=
                "cursor " + std::to_string(event.cursor.x) + "," + std::to_string(event.cursor.y);
        } else {
            const InputRecord& input = event.input;
            EXPECT_EQ(input.type, kInputMouse);
            EXPECT_EQ(input.mouse.dx, 0);
            EXPECT_EQ(input.mouse.dy, 0);
            EXPECT_EQ(input.mouse.time, 0u);
            char flags[16];
            std::snprintf(flags, sizeof flags, "0x%x", input.mouse.flags);
            line += std::string("mouse flags=") + flags +
                    " data=" + std::to_string(input.mouse.mouse_data);
        }
        lines.push_back(line);
    }
    return lines;
}

class PointerTest : public ::testing::Test {
  protected:
    PointerTest() { reset_click_indicator_class_for_testing(); }
    sim::ScopedSimDesktop desktop;
};

TEST_F(PointerTest, ClickAtThousandthsMovesThenPressesAndReleasesFiftyMsApart) {
    const ActionResult result = dispatch("click", Json{{"position", {500, 500}}});
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(result["data"]["global"], Json({960, 540}));
    EXPECT_EQ(trace(*desktop), (std::vector<std::string>{
                                   "t=0 cursor 960,540",
                                   "t=50 mouse flags=0x2 data=0",
                                   "t=100 mouse flags=0x4 data=0",
                               }));
    EXPECT_EQ(desktop->now_ms(), 200u);
    EXPECT_EQ(desktop->send_input_calls, 2u);  // one record per call
    // The indicator was started but the click did not wait for it.
    EXPECT_EQ(desktop->threads_started, 1u);
    EXPECT_TRUE(desktop->overlay_windows.empty());
    desktop->run_pending_threads();
    ASSERT_EQ(desktop->overlay_windows.size(), 1u);
    EXPECT_EQ(desktop->overlay_windows[0].window_params.x, 928);
    EXPECT_EQ(desktop->overlay_windows[0].window_params.y, 508);
}

TEST_F(PointerTest, RightClickUsesTheRightButton) {
    const ActionResult result = dispatch("right_click", Json{{"position", {0.25, 0.5}}});
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(trace(*desktop), (std::vector<std::string>{
                                   "t=0 cursor 480,540",
                                   "t=50 mouse flags=0x8 data=0",
                                   "t=100 mouse flags=0x10 data=0",
                               }));
    EXPECT_EQ(desktop->threads_started, 1u);
}

TEST_F(PointerTest, ClickSucceedsWhenTheIndicatorThreadCannotStartOrTheCursorIsRefused) {
    desktop->overlay_fail.start_thread = 8;
    desktop->fail.set_cursor_pos = true;
    const ActionResult result = dispatch("click", Json{{"position", {0.5, 0.5}}});
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(desktop->inputs().size(), 2u);
    EXPECT_EQ(desktop->stderr_lines,
              (std::vector<std::string>{
                  "[CUA-indicator-win] CreateThread failed: Not enough memory "
                  "resources are available to process this command. (0x00000008)"}));
}

TEST_F(PointerTest, ScrollAmounts) {
    struct Case {
        Json amount;  // null: absent
        int notches;
        int data;
    };
    const Case cases[] = {
        {3, 3, 120},
        {-2, 2, -120},
        {100, 25, 120},
        {-100, 25, -120},
        {0, 0, -120},
        {nullptr, 5, 120},
        {3.0, 5, 120},
        {"3", 5, 120},
        {Json(18446744073709551615ULL), 5, 120},  // beyond signed 64 bits
        {Json(INT64_MIN), 25, -120},
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop local;
        Json params{{"position", {0.5, 0.5}}};
        if (!c.amount.is_null()) {
            params["amount"] = c.amount;
        }
        const ActionResult result = dispatch("scroll", params);
        EXPECT_EQ(result["ok"], true) << c.amount;
        const std::vector<std::string> lines = trace(*local);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.notches) + 1) << c.amount;
        EXPECT_EQ(lines[0], "t=0 cursor 960,540");
        for (int i = 0; i < c.notches; ++i) {
            EXPECT_EQ(lines[i + 1], "t=" + std::to_string(50 + 3 * i) +
                                        " mouse flags=0x800 data=" + std::to_string(c.data))
                << c.amount;
        }
        EXPECT_EQ(local->now_ms(), 50u + 3u * c.notches) << c.amount;
        EXPECT_EQ(local->threads_started, 0u);  // no ring for scrolling
    }
}

TEST_F(PointerTest, PositionRulesOfClickAndScroll) {
    const Json bad[] = {Json::array({0.5}), Json::array(), Json("0.5,0.5"), Json{{"x", 1}},
                        Json::array({0.5, "0.5"})};
    for (const char* action : {"click", "right_click", "scroll"}) {
        for (const Json& position : bad) {
            EXPECT_EQ(text::json_dump(dispatch(action, Json{{"position", position}})),
                      R"({"error":"Missing position","ok":false})")
                << action << " " << position;
        }
        EXPECT_EQ(dispatch(action, Json(nullptr))["error"], "Missing position");
    }
    EXPECT_TRUE(desktop->events.empty());
    EXPECT_EQ(desktop->threads_started, 0u);
    // Extra elements are ignored; huge values are clamped into the display.
    EXPECT_EQ(dispatch("click", Json{{"position", {0.5, 0.5, 9}}})["data"]["global"],
              Json({960, 540}));
    EXPECT_EQ(dispatch("click", Json{{"position", {1e308, -1e308}}})["data"]["global"],
              Json({1919, 0}));
}

std::vector<int> drag_xs(const sim::SimDesktop& desktop) {
    std::vector<int> xs;
    for (const sim::SimEvent& event : desktop.events) {
        if (event.kind == sim::SimEvent::Kind::cursor) {
            xs.push_back(event.cursor.x);
        }
    }
    return xs;
}

TEST_F(PointerTest, DragVisitsTruncatedThirtiethsAndReleasesAtTheEnd) {
    // A 1000-pixel display makes 0.1 one hundred pixels.
    desktop->monitors = {{Rect{0, 0, 1000, 1000}, kMonitorInfoFlagPrimary}};
    const ActionResult result =
        dispatch("drag", Json{{"position1", {0, 0}}, {"position2", {0.1, 0}}});
    ASSERT_EQ(result["ok"], true);
    EXPECT_EQ(result["data"]["start"]["global"], Json({0, 0}));
    EXPECT_EQ(result["data"]["end"]["global"], Json({100, 0}));
    std::vector<int> expected{0};
    for (int i = 1; i <= 30; ++i) {
        expected.push_back(static_cast<int>(100.0 * (static_cast<double>(i) / 30)));
    }
    expected.push_back(100);
    EXPECT_EQ(drag_xs(*desktop), expected);
    EXPECT_EQ(std::vector<int>(expected.begin() + 1, expected.begin() + 7),
              (std::vector<int>{3, 6, 10, 13, 16, 20}));

    const std::vector<std::string> lines = trace(*desktop);
    ASSERT_EQ(lines.size(), 1u + 1 + 60 + 1 + 1);
    EXPECT_EQ(lines[1], "t=50 mouse flags=0x2 data=0");
    EXPECT_EQ(lines[2], "t=100 cursor 3,0");
    EXPECT_EQ(lines[3], "t=100 mouse flags=0x1 data=0");
    EXPECT_EQ(lines[60], "t=390 cursor 100,0");
    EXPECT_EQ(lines[61], "t=390 mouse flags=0x1 data=0");
    EXPECT_EQ(lines[62], "t=400 cursor 100,0");
    EXPECT_EQ(lines[63], "t=450 mouse flags=0x4 data=0");
    EXPECT_EQ(desktop->now_ms(), 450u);  // nothing after the release
}

TEST_F(PointerTest, DragTowardNegativeTruncatesTowardZero) {
    // A 2000-pixel display from -1000: 0.5 is x 0 and 0.45 is x -100.
    desktop->monitors = {{Rect{-1000, 0, 1000, 1000}, kMonitorInfoFlagPrimary}};
    ASSERT_EQ(dispatch("drag", Json{{"position1", {0.5, 0}}, {"position2", {0.45, 0}}})["ok"],
              true);
    const std::vector<int> xs = drag_xs(*desktop);
    ASSERT_EQ(xs.size(), 32u);
    EXPECT_EQ(xs.front(), 0);
    EXPECT_EQ(std::vector<int>(xs.begin() + 1, xs.begin() + 5),
              (std::vector<int>{-3, -6, -10, -13}));
    EXPECT_EQ(xs[30], -100);
    EXPECT_EQ(xs.back(), -100);
}

TEST_F(PointerTest, DragParameterRules) {
    struct Case {
        Json params;
        const char* error;  // nullptr: succeeds
    };
    const Case cases[] = {
        {Json::object(), "Missing position1"},
        {Json{{"position2", {0, 0}}}, "Missing position1"},
        {Json{{"position1", "0,0"}, {"position2", {0, 0}}}, "Missing position1"},
        {Json{{"position1", {0, 0}}}, "Missing position2"},
        {Json{{"position1", {0, 0}}, {"position2", {{"x", 1}}}}, "Missing position2"},
        {Json{{"position1", {0.1, "a"}}, {"position2", {0, 0}}}, "Invalid positions"},
        {Json{{"position1", {0, 0}}, {"position2", Json::array()}}, "Invalid positions"},
        {Json{{"position1", {0.1, "a", 0.2}}, {"position2", {0, 0}}}, nullptr},
        {Json{{"position1", {1e308, -1e308}}, {"position2", {-1e308, 1e308}}}, nullptr},
    };
    for (const Case& c : cases) {
        sim::ScopedSimDesktop local;
        const ActionResult result = dispatch("drag", c.params);
        if (c.error != nullptr) {
            EXPECT_EQ(result, (Json{{"ok", false}, {"error", c.error}})) << c.params;
            EXPECT_TRUE(local->events.empty());
        } else {
            EXPECT_EQ(result["ok"], true) << c.params;
        }
    }
    sim::ScopedSimDesktop local;
    const ActionResult skipped = dispatch("drag", cases[7].params);
    EXPECT_EQ(skipped["data"]["start"]["global"], Json({192, 216}));  // 0.1, 0.2 with "a" skipped
}

TEST_F(PointerTest, DragWithUnmatchedDisplayIdWritesTheLineOncePerPosition) {
    dispatch("drag", Json{{"display_id", "nowhere"}, {"position1", {0, 0}}, {"position2", {1, 1}}});
    ASSERT_EQ(desktop->stderr_lines.size(), 2u);
    EXPECT_EQ(desktop->stderr_lines[0], desktop->stderr_lines[1]);
}

}  // namespace
}  // namespace cua_actions::windows
