#include "mcp/screenshot_tool.h"

#include <gtest/gtest.h>

#include <map>

#include "mcp/tool_call.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace mcp {
namespace {

TEST(ScreenshotSettings, EnvironmentSetsDefaultsAndBadValuesAreReported) {
    struct Case {
        std::map<std::string, std::string> env;
        std::int64_t max_size, max_response_bytes;
        const char* format;
        const char* warning;  // part of the one line, or "" for none
    };
    const Case cases[] = {
        {{}, 1568, 1'000'000, "auto", ""},
        {{{"ZELTO_CUA_MCP_MAX_SIZE", " 2000 "},
          {"ZELTO_CUA_MCP_MAX_RESPONSE_BYTES", "500000"},
          {"ZELTO_CUA_MCP_IMAGE_FORMAT", "jpeg"}},
         2000,
         500'000,
         "jpeg",
         ""},
        {{{"ZELTO_CUA_MCP_MAX_SIZE", "8001"}},
         1568,
         1'000'000,
         "auto",
         "[CUA-mcp] ZELTO_CUA_MCP_MAX_SIZE must be a whole number from 1 to 8000, not \"8001\": "
         "using 1568"},
        {{{"ZELTO_CUA_MCP_MAX_SIZE", "12px"}}, 1568, 1'000'000, "auto", "not \"12px\""},
        {{{"ZELTO_CUA_MCP_MAX_RESPONSE_BYTES", "100"}}, 1568, 1'000'000, "auto", "16384"},
        {{{"ZELTO_CUA_MCP_IMAGE_FORMAT", "gif"}},
         1568,
         1'000'000,
         "auto",
         "[CUA-mcp] ZELTO_CUA_MCP_IMAGE_FORMAT must be auto, png or jpeg, not \"gif\": using auto"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> warnings;
        const ScreenshotSettings settings = screenshot_settings_from_env(
            [&](const std::string& name) -> std::optional<std::string> {
                const auto found = c.env.find(name);
                return found == c.env.end() ? std::nullopt : std::optional(found->second);
            },
            [&](const std::string& line) { warnings.push_back(line); });
        SCOPED_TRACE(c.warning);
        EXPECT_EQ(settings.max_size, c.max_size);
        EXPECT_EQ(settings.max_response_bytes, c.max_response_bytes);
        EXPECT_EQ(settings.format, c.format);
        ASSERT_EQ(warnings.size(), *c.warning ? 1u : 0u);
        if (*c.warning) {
            EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
        }
    }
}

TEST(ScreenshotParams, ArgumentsOverrideDefaultsAndBadOnesAreRefused) {
    const ScreenshotSettings settings;
    EXPECT_EQ(screenshot_params(Json::object(), settings).value(),
              (Json{{"max_size", 1568}, {"format", "auto"}}));
    EXPECT_EQ(screenshot_params(
                  Json::parse(R"({"max_size":800.0,"format":"png","display_id":"x"})"), settings)
                  .value(),
              (Json{{"max_size", 800}, {"format", "png"}, {"display_id", "x"}}));
    for (const char* bad : {R"({"max_size":0})", R"({"max_size":8001})", R"({"max_size":1.5})",
                            R"({"max_size":"800"})", R"({"format":"gif"})", R"({"format":5})"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(screenshot_params(Json::parse(bad), settings).ok());
    }
}

// A stand-in executor: a fitted screenshot whose image takes `image_bytes(budget)`.
struct FakeScreenshots {
    std::function<std::int64_t(std::int64_t)> image_bytes;
    std::vector<std::int64_t> budgets;
    ExecutorRun operator()(const std::string& line) {
        const Json params = text::read_json(line.substr(0, line.size() - 1)).value["params"];
        budgets.push_back(params["max_bytes"]);
        const std::string image(static_cast<std::size_t>(image_bytes(budgets.back())), '\xff');
        const Json data{{"display_id", "0,0,1920,1080"},
                        {"format", "jpeg"},
                        {"width", 1568},
                        {"height", 882},
                        {"sourceWidth", 1920},
                        {"sourceHeight", 1080},
                        {"image", "data:image/jpeg;base64," + text::base64_encode(image)}};
        return ExecutorRun{ExecutorRun::Outcome::finished,
                           0,
                           Json{{"ok", true}, {"data", data}}.dump() + "\n",
                           {},
                           {}};
    }
};

TEST(ScreenshotBudget, AFullBudgetImageFitsTheLineEvenWithALongId) {
    const ToolCalls calls;
    const Json long_id = std::string(100'000, '7');
    FakeScreenshots executor{[](std::int64_t budget) { return budget; }, {}};
    const auto answer = calls.answer(long_id, *find_tool("screenshot"),
                                     Json{{"display_id", "0,0,1920,1080"}}, std::ref(executor));
    ASSERT_EQ(executor.budgets.size(), 1u);
    const std::size_t wire = answer.line.size() + 1;
    EXPECT_LE(wire, 1'000'000u);
    EXPECT_GT(wire, 1'000'000u - 200) << "the budget is not wasted";
    ASSERT_TRUE(answer.screenshot);
    EXPECT_EQ(answer.screenshot->first, "\"0,0,1920,1080\"");

    const Json result = Json::parse(answer.line)["result"];
    EXPECT_FALSE(result.contains("structuredContent"));
    ASSERT_EQ(result["content"].size(), 2u);
    EXPECT_EQ(result["content"][0]["mimeType"], "image/jpeg");
    const std::string text = result["content"][1]["text"];
    for (const char* part :
         {"display_id 0,0,1920,1080", "1568x882 JPEG", "1920x1080", "coordinate [x, y]",
          "x from 0 to 1567, y from 0 to 881", "display_id \"0,0,1920,1080\", as in this call"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    }
}

TEST(ScreenshotBudget, AnOverrunIsRetriedOnceSmallerThenRefused) {
    const ToolCalls calls;
    FakeScreenshots once{[n = 0](std::int64_t budget) mutable { return budget + (n++ ? 0 : 5000); },
                         {}};
    const auto retried = calls.answer(1, *find_tool("screenshot"), Json::object(), std::ref(once));
    ASSERT_EQ(once.budgets.size(), 2u);
    EXPECT_LE(retried.line.size() + 1, 1'000'000u);
    EXPECT_TRUE(retried.screenshot);

    FakeScreenshots always{[](std::int64_t) { return 1'000'000; }, {}};  // ignores budgets
    const auto refused =
        calls.answer(1, *find_tool("screenshot"), Json::object(), std::ref(always));
    EXPECT_EQ(always.budgets.size(), 2u);
    EXPECT_FALSE(refused.screenshot);
    EXPECT_EQ(Json::parse(refused.line)["result"]["isError"], true);
}

TEST(ScreenshotResult, MimeTypeFollowsTheDataUrl) {
    const Json png = Json::parse(
        R"({"display_id":"0,0,8,8","height":8,"image":"data:image/png;base64,iVBORw0K",)"
        R"("scaleFactor":1,"sourceHeight":8,"sourceWidth":8,"width":8})");
    const zelto::Result<ScreenshotImage> shot = screenshot_result(png, std::nullopt);
    ASSERT_TRUE(shot.ok());
    EXPECT_EQ(shot->result["content"][0],
              (Json{{"type", "image"}, {"data", "iVBORw0K"}, {"mimeType", "image/png"}}));
    EXPECT_EQ(shot->geometry, (ImageGeometry{8, 8, 8, 8}));
    Json gif = png;
    gif["image"] = "data:image/gif;base64,R0lG";
    EXPECT_FALSE(screenshot_result(gif, std::nullopt).ok());
}

}  // namespace
}  // namespace mcp
