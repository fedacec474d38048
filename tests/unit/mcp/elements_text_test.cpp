#include "mcp/elements_text.h"

#include <gtest/gtest.h>

namespace mcp {
namespace {

Json walk_data(std::string display_id) {
    return Json{{"display_id", display_id},
                {"elapsed_ms", 12},
                {"truncated", true},
                {"notes", {"Skipped window 0x1f (Static): not responding"}},
                {"window",
                 {{"id", 77},
                  {"title", "Zelto \"Controls\""},
                  {"pid", 9},
                  {"process_name", "zelto-probe.exe"}}},
                {"elements",
                 {{{"id", 2},
                   {"role", "button"},
                   {"name", "Press me"},
                   {"value", ""},
                   {"position", {781.3, 115.7}},
                   {"center", {1500, 125}},
                   {"states", {"focused"}}},
                  {{"id", 3},
                   {"role", "edit"},
                   {"name", ""},
                   {"value", "hello"},
                   {"position", {156.3, 115.7}},
                   {"center", {300, 125}},
                   {"states", Json::array()}}}}};
}

TEST(ElementsTextTest, OneLinePerElementWithImageCoordinatesWhenAScreenshotExists) {
    ScreenshotMemory memory;
    const Json primary = walk_data("0,0,1920,1080");
    EXPECT_EQ(screenshot_of_display(primary, memory), nullptr);
    memory.remember(std::nullopt, ImageGeometry{1568, 882, 1920, 1080});
    const ImageGeometry* image = screenshot_of_display(primary, memory);
    ASSERT_NE(image, nullptr);
    const std::string text = elements_text(primary, image);
    EXPECT_NE(text.find("Window 77 \"Zelto \\\"Controls\\\"\" (zelto-probe.exe, pid 9) on display "
                        "0,0,1920,1080: 2 elements in 12 ms, truncated.\n"),
              std::string::npos);
    EXPECT_NE(text.find("Note: Skipped window 0x1f (Static): not responding\n"), std::string::npos);
    EXPECT_NE(text.find("\n[2] button \"Press me\" (781.3, 115.7) [1225, 102] {focused}\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n[3] edit \"\" = \"hello\" (156.3, 115.7) [245, 102]\n"),
              std::string::npos);
    // A second display's elements take only that display's own screenshot.
    const Json left = walk_data("-1280,0,1280,1024");
    EXPECT_EQ(screenshot_of_display(left, memory), nullptr);
    EXPECT_NE(elements_text(left, nullptr).find("[3] edit \"\" = \"hello\" (156.3, 115.7)\n"),
              std::string::npos);
}

}  // namespace
}  // namespace mcp
