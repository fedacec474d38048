#include "cua_actions/windows/display_input.h"

#include <gtest/gtest.h>

#include <limits>

#include "cua_actions/windows/dispatcher.h"
#include "support/sim_desktop.h"
#include "text/json_output.h"

namespace cua_actions::windows {
namespace {

using sim::SimMonitor;

SimMonitor monitor(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, bool primary) {
    return SimMonitor{Rect{x, y, x + w, y + h}, primary ? kMonitorInfoFlagPrimary : 0u};
}

class DisplayTest : public ::testing::Test {
  protected:
    sim::ScopedSimDesktop desktop;

    void use_monitors(std::vector<SimMonitor> monitors) { desktop->monitors = std::move(monitors); }
    void left_and_primary() {
        use_monitors({monitor(0, 0, 2560, 1440, true), monitor(-1920, 0, 1920, 1080, false)});
    }
};

TEST_F(DisplayTest, EnumerationSortsByXThenYAndKeepsEqualOrder) {
    use_monitors({monitor(0, 0, 2560, 1440, true), monitor(-1920, 0, 1920, 1080, false),
                  monitor(0, -1080, 1920, 1080, false), monitor(0, -1080, 800, 600, false)});
    const auto displays = enumerate_displays();
    ASSERT_EQ(displays.size(), 4u);
    EXPECT_EQ(displays[0], (DisplayInfo{-1920, 0, 1920, 1080, false}));
    EXPECT_EQ(displays[1], (DisplayInfo{0, -1080, 1920, 1080, false}));
    EXPECT_EQ(displays[2], (DisplayInfo{0, -1080, 800, 600, false}));  // stable among equals
    EXPECT_EQ(displays[3], (DisplayInfo{0, 0, 2560, 1440, true}));
}

TEST_F(DisplayTest, UnreadableMonitorIsSkippedAndEmptyListFallsBackToMetrics) {
    use_monitors({monitor(0, 0, 100, 100, true), monitor(100, 0, 50, 50, false)});
    desktop->monitors[0].info_fails = true;
    auto displays = enumerate_displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0], (DisplayInfo{100, 0, 50, 50, false}));

    desktop->monitors[1].info_fails = true;
    desktop->screen_cx = 1366;
    desktop->screen_cy = 768;
    displays = enumerate_displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0], (DisplayInfo{0, 0, 1366, 768, true}));
}

TEST_F(DisplayTest, PrimaryFlagMustBeExactlyOne) {
    use_monitors({SimMonitor{Rect{0, 0, 10, 10}, 3u}});
    EXPECT_FALSE(enumerate_displays()[0].primary);
}

TEST(DefaultDisplay, PrimaryThenOriginThenFirstThenUnit) {
    EXPECT_EQ(default_display({{-1920, 0, 1920, 1080, false}, {0, 0, 2560, 1440, true}}).x, 0);
    EXPECT_EQ(default_display({{-100, -100, 50, 50, false}, {-10, -10, 20, 20, false}}).x, -10);
    // 0 < x + width fails for a display ending exactly at 0.
    EXPECT_EQ(default_display({{-100, 0, 100, 100, false}, {500, 0, 10, 10, false}}).x, -100);
    EXPECT_EQ(default_display({}), (DisplayInfo{0, 0, 1, 1, true}));
}

struct IdCase {
    const char* id;
    std::int32_t expected_x;
    const char* expected_line;  // "" for no line
};

TEST_F(DisplayTest, DisplayIdSelection) {
    use_monitors({monitor(0, 0, 2560, 1440, true), monitor(-1920, 0, 1920, 1080, false)});
    const IdCase cases[] = {
        {"0,0,2560,1440", 0, ""},
        {"-1920,0,1920,1080", -1920, ""},
        {" 0, 0, 2560, 1440 ", 0,
         "[CUA-display-win] fuzzy matched display_id=0, 0, 2560, 1440 -> 0,0,2560x1440 score=0"},
        {"0,0,2550,1440", 0,
         "[CUA-display-win] fuzzy matched display_id=0,0,2550,1440 -> 0,0,2560x1440 score=10"},
        {"-1900,+3,1920,1080", -1920,
         "[CUA-display-win] fuzzy matched display_id=-1900,+3,1920,1080 -> -1920,0,1920x1080 "
         "score=23"},
        {"abc", 0, "[CUA-display-win] display_id not found, fallback to primary display: abc"},
        {"1,2,3", 0, "[CUA-display-win] display_id not found, fallback to primary display: 1,2,3"},
        {"1,2,3,4,", 0,
         "[CUA-display-win] display_id not found, fallback to primary display: 1,2,3,4,"},
        {"1.5,0,10,10", 0,
         "[CUA-display-win] display_id not found, fallback to primary display: 1.5,0,10,10"},
        {"0,0,2147483648,10", 0,
         "[CUA-display-win] display_id not found, fallback to primary display: 0,0,2147483648,10"},
        {"1, 2 3,4,5", 0,
         "[CUA-display-win] display_id not found, fallback to primary display: 1, 2 3,4,5"},
        {"", 0, ""},
        {"   ", 0, ""},
    };
    for (const IdCase& c : cases) {
        desktop->stderr_lines.clear();
        const DisplayInfo chosen = selected_display(Json{{"display_id", c.id}});
        EXPECT_EQ(chosen.x, c.expected_x) << c.id;
        if (*c.expected_line == '\0') {
            EXPECT_TRUE(desktop->stderr_lines.empty()) << c.id;
        } else {
            EXPECT_EQ(desktop->stderr_lines, std::vector<std::string>{c.expected_line}) << c.id;
        }
    }
}

TEST_F(DisplayTest, NonStringDisplayIdIsIgnoredSilently) {
    left_and_primary();
    for (const Json& id : {Json(7), Json(true), Json(nullptr), Json::array({0, 0})}) {
        EXPECT_EQ(selected_display(Json{{"display_id", id}}).x, 0);
    }
    EXPECT_EQ(selected_display(Json::array()).x, 0);
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

TEST_F(DisplayTest, EqualScoresPickTheFirstAfterSorting) {
    use_monitors({monitor(100, 0, 100, 100, true), monitor(-100, 0, 100, 100, false)});
    // 0,0,100,100 is 100 away from both.
    EXPECT_EQ(selected_display(Json{{"display_id", "0,0,100,100"}}).x, -100);
}

struct MapCase {
    double px, py;
    std::int32_t dx, dy, gx, gy;
    double nx, ny;
};

TEST_F(DisplayTest, WorkedMappingExamplesOnLeftDisplay) {
    use_monitors({monitor(-1920, 0, 1920, 1080, false)});
    const MapCase cases[] = {
        {0.5, 0.5, 960, 540, -960, 540, 0.5, 0.5},    {500, 250, 960, 270, -960, 270, 0.5, 0.25},
        {1.0, 1000, 1919, 1079, -1, 1079, 1.0, 1.0},  {1.5, -3, 3, 0, -1917, 0, 0.0015, 0.0},
        {2500, 0, 1919, 0, -1, 0, 1.0, 0.0},          {0, 0, 0, 0, -1920, 0, 0.0, 0.0},
        {5000, 5000, 1919, 1079, -1, 1079, 1.0, 1.0}, {1, 1, 1919, 1079, -1, 1079, 1.0, 1.0},
    };
    for (const MapCase& c : cases) {
        const double position[] = {c.px, c.py};
        const ClickPoint point = to_physical_click_point(position, Json::object());
        EXPECT_EQ(point.x, c.gx) << c.px << "," << c.py;
        EXPECT_EQ(point.y, c.gy) << c.px << "," << c.py;
        EXPECT_EQ(point.mapping["display_relative"], Json({c.dx, c.dy}));
        EXPECT_EQ(point.mapping["physical"], point.mapping["display_relative"]);
        EXPECT_EQ(point.mapping["global"], Json({c.gx, c.gy}));
        EXPECT_DOUBLE_EQ(point.mapping["normalized"][0].get<double>(), c.nx);
        EXPECT_DOUBLE_EQ(point.mapping["normalized"][1].get<double>(), c.ny);
        EXPECT_EQ(point.mapping["origin"], Json({-1920, 0}));
        EXPECT_EQ(point.mapping["screen"], Json({1920, 1080}));
    }
}

TEST_F(DisplayTest, MappingObjectSerialisesWithFloatsAndSortedKeys) {
    const double position[] = {500, 500};
    const ClickPoint point = to_physical_click_point(position, Json::object());
    EXPECT_EQ(point.mapping.dump(),
              R"({"display_relative":[960,540],"global":[960,540],"normalized":[0.5,0.5],)"
              R"("origin":[0,0],"physical":[960,540],"screen":[1920,1080],)"
              R"("sourceScreen":[1920.0,1080.0]})");
}

struct SourceCase {
    Json screen;
    double expected_sw;
};

TEST_F(DisplayTest, SourceSizeRules) {
    use_monitors({monitor(-1920, 0, 1920, 1080, false)});
    const SourceCase cases[] = {
        {Json{{"sourceWidth", 1280}}, 1280},
        {Json{{"source_width", 1280}}, 1280},
        {Json{{"sourceWidth", 0}}, 1920},
        {Json{{"sourceWidth", -5}}, 1920},
        {Json{{"sourceWidth", "1280"}}, 1920},
        {Json{{"sourceWidth", "x"}, {"source_width", 1280}},
         1920},  // present key wins, no fallback
        {Json{{"sourceWidth", 100.5}}, 100.5},
        {Json::array({1280}), 1920},
        {Json("1280"), 1920},
    };
    for (const SourceCase& c : cases) {
        const double position[] = {1.0, 0.5};
        const ClickPoint point = to_physical_click_point(position, Json{{"_screen", c.screen}});
        EXPECT_DOUBLE_EQ(point.mapping["sourceScreen"][0].get<double>(), c.expected_sw) << c.screen;
        EXPECT_DOUBLE_EQ(point.mapping["sourceScreen"][1].get<double>(), 1080.0) << c.screen;
    }
    // 100.5 wide with position 1.0: the bound 99.5 truncates to 99.
    const double position[] = {1.0, 0.0};
    EXPECT_EQ(to_physical_click_point(position, Json{{"_screen", {{"sourceWidth", 100.5}}}})
                  .mapping["display_relative"][0],
              99);
    // Source size replaces the display size as scale; the origin stays the display's.
    const double middle[] = {0.5, 0.5};
    const ClickPoint scaled = to_physical_click_point(
        middle, Json{{"_screen", {{"sourceWidth", 1280}, {"sourceHeight", 720}}}});
    EXPECT_EQ(scaled.x, -1280);
    EXPECT_EQ(scaled.y, 360);
}

TEST_F(DisplayTest, HugeSourcesAndOriginsSaturate) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    use_monitors({SimMonitor{Rect{kMax - 10, 0, kMax, 10}, kMonitorInfoFlagPrimary}});
    const double position[] = {1.0, 1.0};
    const ClickPoint point = to_physical_click_point(
        position, Json{{"_screen", {{"sourceWidth", 1e300}, {"sourceHeight", 1e12}}}});
    EXPECT_EQ(point.mapping["display_relative"], Json({kMax, kMax}));
    EXPECT_EQ(point.x, kMax);
    EXPECT_EQ(point.y, kMax);
}

TEST_F(DisplayTest, DpiStepRunsOnceAndReportsNonZeroErrors) {
    desktop->fail.set_process_dpi_aware = true;
    desktop->fail.dpi_error_code = 5;
    reset_dpi_awareness_for_testing();
    ensure_dpi_awareness();
    ensure_dpi_awareness();
    EXPECT_EQ(desktop->dpi_calls, 1);
    EXPECT_EQ(desktop->stderr_lines,
              std::vector<std::string>{
                  "[CUA-display-win] SetProcessDPIAware failed or was already fixed: 5"});

    desktop->stderr_lines.clear();
    desktop->fail.dpi_error_code = 0;
    reset_dpi_awareness_for_testing();
    ensure_dpi_awareness();
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

using Context = DpiAwarenessContext;

struct DpiCase {
    const char* name;
    bool has_context_call;
    OptionalCall v2, v1;  // answers, refusals with codes 87 and 5
    bool system_aware_fails;
    std::uint32_t system_aware_code;
    std::vector<Context> expected_requests;
    int expected_system_calls;
    std::vector<std::string> expected_lines;
};

TEST(DpiStep, AsksPerMonitorV2ThenV1ThenRunsTheSystemStep) {
    constexpr auto kAccepted = OptionalCall::accepted;
    constexpr auto kRefused = OptionalCall::refused;
    const std::vector<Context> both = {Context::per_monitor_aware_v2, Context::per_monitor_aware};
    const std::string line = "[CUA-display-win] SetProcessDPIAware failed or was already fixed: ";
    const DpiCase cases[] = {
        {"older system", false, kAccepted, kAccepted, false, 0, {}, 1, {}},
        {"older system, refused", false, kAccepted, kAccepted, true, 5, {}, 1, {line + "5"}},
        {"v2", true, kAccepted, kRefused, false, 0, {Context::per_monitor_aware_v2}, 0, {}},
        {"v1", true, kRefused, kAccepted, false, 0, both, 0, {}},
        {"Wine 8.0", true, kRefused, kRefused, false, 0, both, 1, {}},
        {"all refused", true, kRefused, kRefused, true, 1400, both, 1, {line + "1400"}},
        {"all refused, code 0", true, kRefused, kRefused, true, 0, both, 1, {}},
    };
    for (const DpiCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ScopedSimDesktop fresh;
        fresh->has_dpi_awareness_context = c.has_context_call;
        fresh->dpi_context_answers[Context::per_monitor_aware_v2] = {c.v2, 87};
        fresh->dpi_context_answers[Context::per_monitor_aware] = {c.v1, 5};
        fresh->fail.set_process_dpi_aware = c.system_aware_fails;
        fresh->fail.dpi_error_code = c.system_aware_code;
        reset_dpi_awareness_for_testing();
        ensure_dpi_awareness();
        ensure_dpi_awareness();
        EXPECT_EQ(fresh->dpi_context_requests, c.expected_requests);
        EXPECT_EQ(fresh->dpi_calls, c.expected_system_calls);
        EXPECT_EQ(fresh->stderr_lines, c.expected_lines);
    }
}

TEST_F(DisplayTest, ListDisplaysInSelectionOrderWithScaleWhereReported) {
    use_monitors({monitor(0, 0, 2560, 1440, true), monitor(-1280, 0, 1280, 1024, false),
                  monitor(2560, 0, 800, 600, false)});
    desktop->monitors[0].dpi = 144;
    desktop->monitors[1].dpi = 96;
    desktop->monitors[2].info_fails = true;
    EXPECT_EQ(text::json_dump(dispatch("list_displays", Json(5))),
              R"({"data":{"displays":[)"
              R"({"display_id":"-1280,0,1280,1024","height":1024,"primary":false,"scale":1.0,)"
              R"("width":1280,"x":-1280,"y":0},)"
              R"({"display_id":"0,0,2560,1440","height":1440,"primary":true,"scale":1.5,)"
              R"("width":2560,"x":0,"y":0}]},"ok":true})");

    // No DPI from the system, then no readable monitor at all: no scale.
    desktop->has_get_dpi_for_monitor = false;
    EXPECT_FALSE(handle_list_displays(Json::object())["data"]["displays"][0].contains("scale"));
    for (sim::SimMonitor& m : desktop->monitors) {
        m.info_fails = true;
    }
    desktop->has_get_dpi_for_monitor = true;
    EXPECT_EQ(text::json_dump(handle_list_displays(Json::object())),
              R"({"data":{"displays":[{"display_id":"0,0,1920,1080","height":1080,)"
              R"("primary":true,"width":1920,"x":0,"y":0}]},"ok":true})");
}

}  // namespace
}  // namespace cua_actions::windows
