#include "cua_actions/windows/dispatcher.h"

#include <gtest/gtest.h>

#include "cua_actions/dispatch.h"
#include "cua_actions/windows/display_input.h"
#include "support/log_sandbox.h"
#include "support/sim_desktop.h"
#include "text/json_output.h"

namespace cua_actions::windows {
namespace {

class DispatcherTest : public ::testing::Test {
  protected:
    sim::ScopedSimDesktop desktop;
};

TEST_F(DispatcherTest, NamesOutsideTheTableAreUnknownExactlyAsSent) {
    for (const char* name :
         {"Type", "Screenshot", "press-combination", " type", "move ", "MOVE", "runPowershell"}) {
        const ActionResult result = dispatch(name, Json::object());
        EXPECT_EQ(text::json_dump(result),
                  text::json_dump(
                      Json{{"ok", false}, {"error", std::string("Unknown CUA action: ") + name}}));
    }
}

TEST_F(DispatcherTest, AnExceptionEscapingAnActionBecomesOneFailureWithItsRecord) {
    logtest::ScopedLogSandbox sandbox;
    desktop->fail.set_cursor_pos_throws = true;
    for (const char* action : {"move", "click"}) {
        const ActionResult result = dispatch(action, Json{{"position", {500, 500}}});
        EXPECT_EQ(text::json_dump(result),
                  text::json_dump(Json{{"ok", false},
                                       {"error", std::string("Action ") + action +
                                                     " failed with an internal error"}}));
    }
    const auto lines = sandbox.all_lines();
    ASSERT_EQ(lines.size(), 2u);
    const Json record = Json::parse(lines[1]);
    EXPECT_EQ(record["data"]["action"], "click");
    EXPECT_EQ(record["data"]["result"]["error"], "Action click failed with an internal error");
}

TEST_F(DispatcherTest, CheckPermissionsIgnoresParams) {
    for (const Json& params :
         {Json::object(), Json(nullptr), Json(5), Json::array({1}), Json{{"x", 1}}}) {
        EXPECT_EQ(text::json_dump(cua_actions::dispatch("check_permissions", params)),
                  R"({"data":{"accessibility":true,"screen_recording":true},"ok":true})");
    }
}

TEST_F(DispatcherTest, DpiStepRunsBeforeAnyActionIncludingUnknownOnes) {
    reset_dpi_awareness_for_testing();
    dispatch("nope", Json::object());
    EXPECT_EQ(desktop->dpi_calls, 1);
    dispatch("check_permissions", Json::object());
    EXPECT_EQ(desktop->dpi_calls, 1);
}

TEST_F(DispatcherTest, MoveSetsTheCursorWithoutDelayOrButtons) {
    const ActionResult result = dispatch("move", Json{{"position", {500, 500}}});
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(result["data"]["global"], Json({960, 540}));
    EXPECT_EQ(desktop->cursor, (Point{960, 540}));
    EXPECT_TRUE(desktop->inputs().empty());
    EXPECT_EQ(desktop->now_ns, 0u);
}

TEST_F(DispatcherTest, MoveRejectsUnusablePositions) {
    const Json bad_positions[] = {
        Json::array({0.5}),
        Json::array(),
        Json("0.5,0.5"),
        Json{{"x", 1}},
        Json::array({0.5, "0.5"}),
        Json::array({0.5, nullptr}),
        Json(nullptr),
    };
    for (const Json& position : bad_positions) {
        const ActionResult result = dispatch("move", Json{{"position", position}});
        EXPECT_EQ(text::json_dump(result), R"({"error":"Missing position","ok":false})")
            << position;
    }
    EXPECT_EQ(dispatch("move", Json(nullptr))["error"], "Missing position");
    EXPECT_TRUE(desktop->events.empty());
}

TEST_F(DispatcherTest, MoveUsesFirstTwoValuesAndIgnoresRefusedCursor) {
    desktop->fail.set_cursor_pos = true;
    const ActionResult result = dispatch("move", Json{{"position", {0.25, 0.5, 9}}});
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(result["data"]["global"], Json({480, 540}));
}

}  // namespace
}  // namespace cua_actions::windows
