#include "mcp/tool_table.h"
#include "mcp/tool_result.h"

#include <gtest/gtest.h>

#include <set>

#include "mcp/model_arguments.h"
#include "mcp/params_schemas.h"

namespace mcp {
namespace {

using Outcome = ExecutorRun::Outcome;

const Tool& tool(std::string_view name) {
    const Tool* found = find_tool(name);
    EXPECT_NE(found, nullptr) << name;
    return *found;
}

ExecutorRun finished(std::string line, std::uint32_t exit_code = 0) {
    return ExecutorRun{Outcome::finished, exit_code, std::move(line), {}, {}};
}

Json text_only(const char* text) {
    return Json{{"content", Json::array({Json{{"type", "text"}, {"text", text}}})}};
}

Json error_text(const char* text) {
    Json result = text_only(text);
    result["isError"] = true;
    return result;
}

TEST(ToolTable, MapsEachExecutorOutcomeToACallResult) {
    const Json mapping = Json::parse(
        R"({"display_relative":[960,540],"global":[960,540],"normalized":[0.5,0.5],"origin":[0,0],)"
        R"("physical":[960,540],"screen":[1920,1080],"sourceScreen":[1920.0,1080.0]})");
    const std::string mapping_text =
        R"({"display_relative":[960,540],"global":[960,540],"normalized":[0.5,0.5],"origin":[0,0],)"
        R"("physical":[960,540],"screen":[1920,1080],"sourceScreen":[1920.0,1080.0]})";
    const char* secure =
        "Windows secure desktop is active (for example a UAC confirmation dialog). Screenshot "
        "and input are blocked by the OS. Please confirm or dismiss the system dialog manually, "
        "then retry.";
    const Json not_focused = Json::parse(
        R"({"app_name":"Notepad","focused":false,"foreground_title":"x","maximized":true,)"
        R"("pid":42,"target_title":"Untitled - Notepad"})");

    Json move_expected = text_only(mapping_text.c_str());
    move_expected["structuredContent"] = mapping;
    Json secure_expected = error_text(secure);
    secure_expected["structuredContent"] = Json{{"code", "windows_secure_desktop_blocked"}};
    Json focus_expected =
        error_text("Application 'notepad' opened but did not receive foreground focus");
    focus_expected["structuredContent"] = not_focused;

    struct Case {
        const char* name;
        std::string_view tool;
        ExecutorRun run;
        Json expected;
    };
    const Case cases[] = {
        {"data", "move",
         finished(R"({"data":)" + mapping_text +
                  R"(,"ok":true})"
                  "\n"),
         move_expected},
        {"no data", "press", finished("{\"ok\":true}\n"), text_only("{\"ok\":true}")},
        {"failure", "press",
         finished(R"({"error":"Unknown key: nosuchkey","ok":false})"
                  "\n"),
         error_text("Unknown key: nosuchkey")},
        {"failure with data", "screenshot",
         finished(R"({"data":{"code":"windows_secure_desktop_blocked"},"error":")" +
                  std::string(secure) +
                  R"(","ok":false})"
                  "\n"),
         secure_expected},
        {"not focused", "open_app",
         finished(
             R"({"data":)" + not_focused.dump() +
             R"(,"error":"Application 'notepad' opened but did not receive foreground focus","ok":false})"),
         focus_expected},
        {"intake failure", "type",
         finished(
             R"({"error":"Invalid request JSON: expected value at line 1 column 1","ok":false})"
             "\n",
             1),
         error_text("Invalid request JSON: expected value at line 1 column 1")},
        // The line is what counts, even if something else followed it.
        {"second line ignored", "press", finished("{\"ok\":true}\nnoise\n"),
         text_only("{\"ok\":true}")},
        {"no line", "move", finished("", 3),
         error_text("zelto-cua gave no result (exit status 3)")},
        {"not a result", "move", finished("[1]\n"),
         error_text("zelto-cua gave no result (exit status 0)")},
        {"ok missing", "move", finished("{\"data\":{}}\n"),
         error_text("zelto-cua gave no result (exit status 0)")},
        {"timed out", "run_powershell", ExecutorRun{Outcome::timed_out, 0, {}, {}, {}},
         error_text("zelto-cua did not finish within 70 seconds and was ended")},
        {"not started", "move",
         ExecutorRun{Outcome::failed, 0, {}, {}, "could not start x: CreateProcessW failed (2)"},
         error_text("zelto-cua could not run: could not start x: CreateProcessW failed (2)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(call_tool_result(tool(c.tool), c.run), c.expected);
    }
}

TEST(ToolTable, ScreenshotIsAnImageThenATextWithoutStructuredContent) {
    const ExecutorRun run = finished(
        R"({"data":{"display_id":"0,0,1920,1080","format":"jpeg","height":882,)"
        R"("image":"data:image/jpeg;base64,/9j/4AAQ","sourceHeight":1080,"sourceWidth":1920,)"
        R"("width":1568},"ok":true})"
        "\n");
    const Json result = call_tool_result(tool("screenshot"), run);
    EXPECT_FALSE(result.contains("structuredContent"));
    ASSERT_EQ(result["content"].size(), 2u);
    EXPECT_EQ(result["content"][0],
              (Json{{"type", "image"}, {"data", "/9j/4AAQ"}, {"mimeType", "image/jpeg"}}));
    EXPECT_EQ(result["content"][1]["type"], "text");
}

TEST(ToolTable, ListsTheToolsWithTheirSchemasAndHints) {
    const Json listed = tools_list_result()["tools"];
    ASSERT_EQ(listed.size(), 25u);
    std::set<std::string> names;
    for (const Json& entry : listed) {
        const std::string name = entry["name"];
        SCOPED_TRACE(name);
        names.insert(name);
        const Json& schema = entry["inputSchema"];
        EXPECT_EQ(schema["type"], "object");
        if (const std::optional<Json> own = model_input_schema(name)) {
            EXPECT_EQ(schema, *own);  // in a model's terms, not the action's
            continue;
        }
        Json action = Json::parse(params_schema_text(name));
        action.erase("examples");
        if (name == "screenshot") {
            EXPECT_EQ(schema["properties"]["display_id"], action["properties"]["display_id"]);
            EXPECT_EQ(schema["properties"]["max_size"]["maximum"], 8000);
            EXPECT_EQ(schema["properties"]["format"]["enum"],
                      Json::parse(R"(["auto","png","jpeg"])"));
        } else if (name == "drag") {
            EXPECT_EQ(schema["properties"]["coordinate2"]["maxItems"], 2);
            EXPECT_EQ(schema["properties"]["path"]["items"]["items"]["type"], "integer");
            EXPECT_FALSE(schema.contains("required")) << "position1 or coordinate1";
        } else if (schema.contains("properties") && schema["properties"].contains("coordinate")) {
            EXPECT_EQ(schema["properties"]["position"]["type"], "array");
            EXPECT_FALSE(schema.contains("required")) << "position or coordinate";
        } else {
            EXPECT_EQ(schema, action);
        }
        EXPECT_GT(entry["description"].get<std::string>().size(), 80u);
        const Json& hints = entry["annotations"];
        const bool read_only = name == "screenshot" || name == "check_permissions" ||
                               name == "list_displays" || name == "list_windows" ||
                               name == "ui_elements";
        EXPECT_EQ(hints["readOnlyHint"], read_only);
        if (!read_only) {
            EXPECT_EQ(hints["destructiveHint"], name == "run_powershell");
        }
        EXPECT_EQ(tool(name).time_limit.count(), name == "run_powershell" ? 70 : 30);
    }
    EXPECT_EQ(names, (std::set<std::string>{"screenshot",
                                            "move",
                                            "click",
                                            "right_click",
                                            "scroll",
                                            "drag",
                                            "type",
                                            "press",
                                            "press_combination",
                                            "open_app",
                                            "run_powershell",
                                            "check_permissions",
                                            "list_displays",
                                            "mouse_down",
                                            "mouse_up",
                                            "key_down",
                                            "key_up",
                                            "hold_key",
                                            "cursor_position",
                                            "zoom",
                                            "wait",
                                            "list_windows",
                                            "focus_window",
                                            "ui_elements",
                                            "set_value"}));
    EXPECT_EQ(find_tool("run_applescript"), nullptr);
}

TEST(ToolTable, RequestIsOneCompactLine) {
    EXPECT_EQ(executor_request(tool("type"), Json{{"text", "a\nb \"c\""}}),
              "{\"action\":\"type\",\"params\":{\"text\":\"a\\nb \\\"c\\\"\"}}\n");
    EXPECT_EQ(executor_request(tool("check_permissions"), Json::object()),
              "{\"action\":\"check_permissions\",\"params\":{}}\n");
}

}  // namespace
}  // namespace mcp
