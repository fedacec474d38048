// The click indicator's thread, class registration, window and failure lines.
#include "cua_actions/windows/click_indicator.h"

#include <gtest/gtest.h>

#include "cua_actions/windows/dispatcher.h"
#include "support/sim_desktop.h"

namespace cua_actions::windows {
namespace {

class ClickIndicatorTest : public ::testing::Test {
  protected:
    ClickIndicatorTest() { reset_click_indicator_class_for_testing(); }
    sim::ScopedSimDesktop desktop;
};

TEST_F(ClickIndicatorTest, ShowsALayeredClickThroughRingForOneSecond) {
    desktop->now_ns = 7'000'000;
    show_click_indicator(928, 508);
    EXPECT_TRUE(desktop->overlay_windows.empty());  // runs on its own thread
    desktop->run_pending_threads();

    ASSERT_EQ(desktop->overlay_windows.size(), 1u);
    const sim::SimOverlayWindow& window = desktop->overlay_windows[0];
    EXPECT_EQ(window.window_params.class_name, "ZeltoClickIndicatorOverlay");
    EXPECT_EQ(window.window_params.title, "");
    EXPECT_EQ(window.window_params.style, 0x80000000u);
    EXPECT_EQ(window.window_params.ex_style, 0x080800A8u);
    EXPECT_EQ((Rect{window.window_params.x, window.window_params.y, window.window_params.width,
                    window.window_params.height}),
              (Rect{928, 508, 64, 64}));
    EXPECT_EQ(window.window_params.parent, 0u);
    EXPECT_EQ(window.window_params.menu, 0u);
    EXPECT_EQ(window.window_params.instance, desktop->module_handle);
    EXPECT_TRUE(window.layered);
    EXPECT_EQ(window.color_key, 0x010101u);
    EXPECT_EQ(window.alpha, 255);
    EXPECT_EQ(window.layered_flags, 1u);
    EXPECT_EQ(window.show_command, 4);  // SW_SHOWNOACTIVATE
    EXPECT_EQ(window.paints, 1);        // painted once by the update, no message loop
    EXPECT_EQ(window.shown_ms, std::optional<std::uint64_t>(7));
    EXPECT_EQ(window.destroyed_ms, std::optional<std::uint64_t>(1007));
    EXPECT_EQ(desktop->registered_classes.at("ZeltoClickIndicatorOverlay"), desktop->module_handle);
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

TEST_F(ClickIndicatorTest, TwoClicksRegisterTheClassOnce) {
    dispatch("click", Json{{"position", {0.5, 0.5}}});
    dispatch("click", Json{{"position", {0.25, 0.25}}});
    desktop->run_pending_threads();
    EXPECT_EQ(desktop->register_class_calls, 1u);
    EXPECT_EQ(desktop->overlay_windows.size(), 2u);
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

TEST_F(ClickIndicatorTest, AClassRegisteredEarlierIsAcceptedSilently) {
    desktop->registered_classes["ZeltoClickIndicatorOverlay"] = desktop->module_handle;
    show_click_indicator(0, 0);
    desktop->run_pending_threads();
    EXPECT_EQ(desktop->register_class_calls, 1u);
    EXPECT_EQ(desktop->overlay_windows.size(), 1u);
    EXPECT_TRUE(desktop->stderr_lines.empty());
}

TEST_F(ClickIndicatorTest, FailuresAreOnlyTaggedLines) {
    struct Case {
        const char* name;
        void (*arrange)(sim::SimDesktop&);
        std::vector<std::string> lines;
        bool window_shown;
    };
    const Case cases[] = {
        {"module handle",
         [](sim::SimDesktop& d) { d.overlay_fail.get_module_handle = 126; },
         {"[CUA-indicator-win] GetModuleHandleW failed, fallback to null instance: 0x0000007E",
          "[CUA-indicator-win] GetModuleHandleW failed during CreateWindowExW: 0x0000007E"},
         true},
        {"register",
         [](sim::SimDesktop& d) { d.overlay_fail.register_class = 5; },
         // Creation then fails too: the class does not exist.
         {"[CUA-indicator-win] RegisterClassW failed: 5",
          "[CUA-indicator-win] CreateWindowExW failed: Cannot find window class. (0x0000057F)"},
         false},
        {"create",
         [](sim::SimDesktop& d) { d.overlay_fail.create_window = 8; },
         {"[CUA-indicator-win] CreateWindowExW failed: Not enough memory resources are available "
          "to "
          "process this command. (0x00000008)"},
         false},
        {"layered",
         [](sim::SimDesktop& d) { d.overlay_fail.set_layered = 5; },
         {"[CUA-indicator-win] SetLayeredWindowAttributes failed: Access is denied. (0x00000005)"},
         true},
        {"destroy", [](sim::SimDesktop& d) { d.overlay_fail.destroy_window = true; }, {}, true},
    };
    for (const Case& c : cases) {
        reset_click_indicator_class_for_testing();
        sim::ScopedSimDesktop local;
        c.arrange(*local);
        const ActionResult result = dispatch("click", Json{{"position", {0.5, 0.5}}});
        EXPECT_EQ(result["ok"], true) << c.name;
        EXPECT_EQ(local->inputs().size(), 2u) << c.name;
        local->run_pending_threads();
        EXPECT_EQ(local->stderr_lines, c.lines) << c.name;
        const bool shown = !local->overlay_windows.empty() && local->overlay_windows[0].shown_ms;
        EXPECT_EQ(shown, c.window_shown) << c.name;
    }
}

}  // namespace
}  // namespace cua_actions::windows
