#include "mcp/image_positions.h"

#include <gtest/gtest.h>

#include "cua_actions/windows/display_input.h"
#include "mcp/tool_call.h"
#include "support/sim_desktop.h"
#include "text/json_reader.h"

namespace mcp {
namespace {

namespace cw = cua_actions::windows;

// Source columns an image pixel was averaged from: floor(i*s/n) .. ceil((i+1)*s/n)-1.
std::pair<std::int64_t, std::int64_t> block(std::int64_t i, std::int64_t image,
                                            std::int64_t source) {
    return {i * source / image, ((i + 1) * source + image - 1) / image - 1};
}

ExecutorRun ok_run() {
    return ExecutorRun{ExecutorRun::Outcome::finished, 0, "{\"ok\":true}\n", {}, {}};
}

// Every image pixel, through the server's conversion, the request line and the
// executor's own mapping, lands inside its block: first, last and every edge.
TEST(ImagePositions, EveryImagePixelClicksInsideItsSourceBlock) {
    struct Case {
        std::int64_t source_width, source_height, width, height;
    };
    const Case cases[] = {{1920, 1080, 1568, 882}, {3840, 2160, 1568, 882}, {2560, 1440, 800, 450},
                          {1366, 768, 1366, 768},  {1920, 1080, 1, 1},      {7, 5, 3, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.source_width) + "->" + std::to_string(c.width));
        sim::ScopedSimDesktop desktop;
        desktop->monitors = {
            sim::SimMonitor{cw::Rect{0, 0, static_cast<std::int32_t>(c.source_width),
                                     static_cast<std::int32_t>(c.source_height)},
                            cw::kMonitorInfoFlagPrimary}};
        ToolCalls calls;
        calls.remember(std::nullopt, {c.width, c.height, c.source_width, c.source_height});
        const std::int64_t longest = std::max(c.width, c.height);
        for (std::int64_t i = 0; i < longest; ++i) {
            const std::int64_t ix = std::min(i, c.width - 1), iy = std::min(i, c.height - 1);
            std::string sent;
            const auto answer =
                calls.answer(1, *find_tool("click"), Json{{"coordinate", {ix, iy}}},
                             [&](const std::string& line) { return sent = line, ok_run(); });
            ASSERT_FALSE(sent.empty()) << answer.line;
            const Json params = text::read_json(sent.substr(0, sent.size() - 1)).value["params"];
            EXPECT_FALSE(params.contains("coordinate"));
            const auto position = params["position"].get<std::vector<double>>();
            const cw::ClickPoint point = cw::to_physical_click_point(position, params);
            const auto [left, right] = block(ix, c.width, c.source_width);
            const auto [top, bottom] = block(iy, c.height, c.source_height);
            ASSERT_TRUE(point.x >= left && point.x <= right) << ix << " -> " << point.x;
            ASSERT_TRUE(point.y >= top && point.y <= bottom) << iy << " -> " << point.y;
        }
    }
}

TEST(ImagePositions, PixelIsTheMiddleOfItsBlock) {
    EXPECT_EQ(source_pixel(0, 1568, 1920), 0);
    EXPECT_EQ(source_pixel(1, 1568, 1920), 1);  // block 1..2
    EXPECT_EQ(source_pixel(1567, 1568, 1920), 1919);
    EXPECT_EQ(source_pixel(783, 1568, 1920), 959);  // block 958..960
    EXPECT_EQ(source_pixel(0, 1, 1920), 960);
    EXPECT_EQ(source_pixel(5, 1920, 1920), 5);  // an unscaled image is the display
}

TEST(ImagePositions, UnusableCoordinatesAreToolErrorsAndRunNothing) {
    ToolCalls calls;
    calls.remember(std::nullopt, {1568, 882, 1920, 1080});
    calls.remember("\"0,0,1920,1080\"", {800, 450, 1920, 1080});
    struct Case {
        const char* tool;
        const char* arguments;
        const char* error;  // part of the message
    };
    const Case cases[] = {
        {"click", R"({"coordinate":[1,2],"display_id":"1,2,3,4"})",
         "No screenshot yet with display_id \"1,2,3,4\""},
        {"click", R"({"coordinate":[1568,0]})", "outside the most recent screenshot image"},
        {"click", R"({"coordinate":[0,450],"display_id":"0,0,1920,1080"})", "800x450 pixels"},
        {"move", R"({"coordinate":[-1,0]})", "two whole numbers"},
        {"scroll", R"({"coordinate":[1.5,0]})", "two whole numbers"},
        {"right_click", R"({"coordinate":["1",0]})", "two whole numbers"},
        {"click", R"({"coordinate":[1,2,3]})", "two whole numbers"},
        {"click", R"({"coordinate":[1,2],"position":[0.5,0.5]})", "not both"},
        {"click", R"({"coordinate":[1,2],"_screen":{"sourceWidth":100}})", "_screen"},
        {"drag", R"({"coordinate1":[1,2],"position2":[1,2],"coordinate2":[1,2]})", "not both"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        bool ran = false;
        const auto answer = calls.answer(7, *find_tool(c.tool), Json::parse(c.arguments),
                                         [&](const std::string&) { return ran = true, ok_run(); });
        EXPECT_FALSE(ran);
        const Json result = Json::parse(answer.line)["result"];
        EXPECT_EQ(result["isError"], true);
        EXPECT_NE(result["content"][0]["text"].get<std::string>().find(c.error), std::string::npos)
            << result;
    }
    // Before any screenshot with no display_id, the message says so.
    ToolCalls fresh;
    const auto answer = fresh.answer(1, *find_tool("click"), Json{{"coordinate", {0, 0}}},
                                     [](const std::string&) { return ok_run(); });
    EXPECT_NE(answer.line.find("No screenshot yet with no display_id"), std::string::npos);
}

TEST(ImagePositions, DragMixesFormsAndKeepsTheDisplay) {
    ToolCalls calls;
    calls.remember("\"0,0,1920,1080\"", {1568, 882, 1920, 1080});
    std::string sent;
    (void)calls.answer(1, *find_tool("drag"),
                       Json::parse(R"({"coordinate1":[1567,881.0],"position2":[0.5,0.5],)"
                                   R"("coordinate2":null,"display_id":"0,0,1920,1080"})"),
                       [&](const std::string& line) { return sent = line, ok_run(); });
    EXPECT_EQ(
        Json::parse(sent)["params"],
        Json::parse(R"({"display_id":"0,0,1920,1080","position1":[)" + Json(1919.0 / 1920).dump() +
                    "," + Json(1079.0 / 1080).dump() + R"(],"position2":[0.5,0.5]})"));
}

}  // namespace
}  // namespace mcp
