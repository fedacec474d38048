#include "mcp/tool_table.h"

#include <array>

#include "mcp/image_positions.h"
#include "mcp/params_schemas.h"
#include "mcp/screenshot_tool.h"
#include "text/json_output.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace mcp {
namespace {

using std::chrono::seconds;

// Every action but PowerShell ends well within this.
constexpr seconds kActionLimit{30};
// PowerShell: two runs of at most 30 s each (one retry), plus a margin.
constexpr seconds kPowerShellLimit{2 * 30 + 10};

constexpr std::array<Tool, 13> kTools{{
    {"screenshot", "Take a screenshot",
     "Captures one display and returns it as an image (PNG, or JPEG when a PNG would be too "
     "large for the client), by default at most 1568 pixels on its longer side, followed by a "
     "text giving the display_id, the image and display sizes, the format and how to point into "
     "the image. Without display_id the primary display is captured. max_size (1 to 8000 "
     "pixels) and format (auto, png or jpeg) change this call only. To act on something seen in "
     "the image, pass its pixel position in the image as coordinate to move, click, right_click "
     "or scroll (drag: coordinate1, coordinate2) with the same display_id as here, or none."
     " list_displays lists every display_id.",
     true, false, kActionLimit},
    {"move", "Move the pointer",
     "Moves the mouse pointer to a point without clicking. Give the point either as coordinate "
     "[x, y] in pixels of the most recent screenshot image (use this for what you see in a "
     "screenshot; pass the same display_id as that screenshot, or none), or as position [x, y] "
     "in fractions 0 to 1 of the display, thousandths when above 1 ([500, 500] is the centre). "
     "display_id chooses the display, the primary one by default. Returns how the point was "
     "mapped to physical pixels."
     " list_displays lists every display_id.",
     false, false, kActionLimit},
    {"click", "Left-click",
     "Moves the pointer to a point and clicks the left mouse button. Give the point either as "
     "coordinate [x, y] in pixels of the most recent screenshot image (use this for what you see "
     "in a screenshot; pass the same display_id as that screenshot, or none), or as position "
     "[x, y] in fractions 0 to 1 of the display, thousandths when above 1 ([500, 500] is the "
     "centre). display_id chooses the display, the primary one by default."
     " list_displays lists every display_id.",
     false, false, kActionLimit},
    {"right_click", "Right-click",
     "Moves the pointer to a point and clicks the right mouse button, usually opening a context "
     "menu. Give the point either as coordinate [x, y] in pixels of the most recent screenshot "
     "image (use this for what you see in a screenshot; pass the same display_id as that "
     "screenshot, or none), or as position [x, y] in fractions 0 to 1 of the display, "
     "thousandths when above 1. display_id chooses the display, the primary one by default."
     " list_displays lists every display_id.",
     false, false, kActionLimit},
    {"scroll", "Scroll",
     "Moves the pointer to a point and turns the mouse wheel by amount notches: positive "
     "scrolls up, negative down (default 5, at most 25). Give the point either as coordinate "
     "[x, y] in pixels of the most recent screenshot image (use this for what you see in a "
     "screenshot; pass the same display_id as that screenshot, or none), or as position [x, y] "
     "in fractions 0 to 1 of the display, thousandths when above 1. display_id chooses the "
     "display."
     " list_displays lists every display_id.",
     false, false, kActionLimit},
    {"drag", "Drag",
     "Presses the left mouse button at a start point, moves to an end point in small steps and "
     "releases it there. Give each point either in pixels of the most recent screenshot image "
     "(coordinate1, coordinate2: [x, y]; use these for what you see in a screenshot, with the "
     "same display_id as that screenshot, or none), or in fractions 0 to 1 of the display "
     "(position1, position2: [x, y], thousandths when above 1). display_id chooses the display "
     "for both."
     " list_displays lists every display_id.",
     false, false, kActionLimit},
    {"type", "Type text",
     "Types text into the window that has the keyboard focus, as if typed on the keyboard; any "
     "Unicode text works. Click the target field first; while an input method is active the text "
     "is pasted through the clipboard instead.",
     false, false, kActionLimit},
    {"press", "Press a key",
     "Presses and releases one key, given by name: enter, tab, escape, backspace, delete, space, "
     "up, down, left, right, home, end, pageup, pagedown, f1 to f12, or a single character. An "
     "unknown name is reported as an error.",
     false, false, kActionLimit},
    {"press_combination", "Press a key combination",
     "Presses a key combination such as ctrl+c or ctrl+shift+t, given as key1, key2 and "
     "optionally key3. Modifiers (ctrl, shift, alt, win) are held down while the other keys are "
     "pressed, then everything is released.",
     false, false, kActionLimit},
    {"open_app", "Open an application",
     "Opens an application by name (Start Menu and installed programs are searched), or brings "
     "its window forward when it is already open, then maximizes it on the chosen display and "
     "gives it the keyboard focus. display_id (from a screenshot's result) chooses the display; "
     "the result names the window and its process id. list_displays lists every display_id.",
     false, false, kActionLimit},
    {"run_powershell", "Run a PowerShell script",
     "Runs a Windows PowerShell script in a hidden process with the user's rights and returns "
     "its output as text (30 seconds per run, one retry when a run fails). A short list of "
     "dangerous operations is refused, but this is not a sandbox: review scripts before running "
     "them.",
     false, true, kPowerShellLimit},
    {"check_permissions", "Check permissions",
     "Reports whether input control (accessibility) and screen capture (screen_recording) are "
     "permitted; on Windows both always are. A quick way to check that the executor runs.",
     true, false, kActionLimit},
    {"list_displays", "List the displays",
     "Lists every display (monitor) of the desktop, sorted by position from the left: its "
     "display_id, x, y, width and height in physical pixels, whether it is the primary display "
     "(the default of the other tools), and its scale (1.5 at 150 %) where the system reports "
     "one. Pass a display_id from here to screenshot, the pointer tools or open_app.",
     true, false, kActionLimit},
}};

Json annotations(const Tool& tool) {
    Json hints{{"title", std::string(tool.title)}, {"readOnlyHint", tool.read_only}};
    if (!tool.read_only) {
        hints["destructiveHint"] = tool.destructive;
    }
    return hints;
}

Json text_item(std::string text) {
    return Json{{"type", "text"}, {"text", std::move(text)}};
}

Json error_result(std::string text, const Json* data = nullptr) {
    Json result{{"content", Json::array({text_item(std::move(text))})}, {"isError", true}};
    if (data != nullptr && data->is_object()) {
        result["structuredContent"] = *data;
    }
    return result;
}

Json success_result(const Json* data) {
    if (data == nullptr || !data->is_object()) {
        return Json{{"content", Json::array({text_item("{\"ok\":true}")})}};
    }
    return Json{{"content", Json::array({text_item(text::json_dump(*data))})},
                {"structuredContent", *data}};
}

// The executor's result line: its first line, read as JSON.
std::optional<Json> result_line(const std::string& output) {
    const std::string line = text::trim(output.substr(0, output.find('\n')));
    if (!text::is_valid_utf8(line)) {
        return std::nullopt;
    }
    text::JsonReadResult parsed = text::read_json(line);
    if (!parsed.ok() || !parsed.value.is_object()) {
        return std::nullopt;
    }
    return std::move(parsed.value);
}

const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// A pixel position in the most recent screenshot image, beside each position.
Json coordinate_schema(std::string_view position) {
    return Json{{"type", "array"},
                {"items", Json{{"type", "integer"}, {"minimum", 0}}},
                {"minItems", 2},
                {"maxItems", 2},
                {"description",
                 text::concat({"A point as [x, y] in pixels of the most recent screenshot image "
                               "taken with the same display_id (or none), counted from its "
                               "top-left pixel [0, 0]. Use it for what you see in a screenshot; "
                               "give either this or ",
                               position, ", not both."})}};
}

// The screenshot's own arguments beside the display.
Json screenshot_schema(const Json& action_schema) {
    Json properties{
        {"display_id", action_schema["properties"]["display_id"]},
        {"max_size",
         Json{{"type", "integer"},
              {"minimum", 1},
              {"maximum", kLargestMaxSize},
              {"description",
               "Longest side of the image in pixels (never enlarged); the server's default "
               "is 1568, the most Anthropic's API passes on without shrinking."}}},
        {"format",
         Json{{"type", "string"},
              {"enum", Json::array({"auto", "png", "jpeg"})},
              {"description",
               "auto: PNG when it fits the response limit, else JPEG; png or jpeg to insist."}}}};
    return Json{{"$schema", action_schema["$schema"]},
                {"type", "object"},
                {"properties", std::move(properties)}};
}

// The action's schema with a coordinate accepted instead of each position.
Json input_schema(const Tool& tool) {
    Json schema = Json::parse(params_schema_text(tool.name));
    if (tool.name == "screenshot") {
        return screenshot_schema(schema);
    }
    const std::span<const CoordinateKey> keys = coordinate_keys(tool.name);
    if (keys.empty()) {
        return schema;
    }
    schema.erase("$id");  // no longer the action's schema
    Json required = Json::array();
    for (const Json& name : schema.value("required", Json::array())) {
        bool is_position = false;
        for (const CoordinateKey& key : keys) {
            is_position = is_position || name == key.position;
        }
        if (!is_position) {
            required.push_back(name);
        }
    }
    schema.erase("required");
    if (!required.empty()) {
        schema["required"] = std::move(required);
    }
    for (const CoordinateKey& key : keys) {
        schema["properties"][std::string(key.coordinate)] = coordinate_schema(key.position);
    }
    return schema;
}

std::string error_text(const Json& result) {
    const Json* error = member(result, "error");
    return error != nullptr && error->is_string() ? error->get<std::string>()
                                                  : "zelto-cua reported a failure";
}

}  // namespace

std::span<const Tool> tools() {
    return kTools;
}

const Tool* find_tool(std::string_view name) {
    for (const Tool& tool : kTools) {
        if (tool.name == name) {
            return &tool;
        }
    }
    return nullptr;
}

Json tools_list_result() {
    Json list = Json::array();
    for (const Tool& tool : kTools) {
        list.push_back(Json{{"name", std::string(tool.name)},
                            {"title", std::string(tool.title)},
                            {"description", std::string(tool.description)},
                            {"inputSchema", input_schema(tool)},
                            {"annotations", annotations(tool)}});
    }
    return Json{{"tools", std::move(list)}};
}

std::string executor_request(const Tool& tool, const Json& arguments) {
    return text::json_dump(Json{{"action", std::string(tool.name)}, {"params", arguments}}) + "\n";
}

Json call_tool_result(const Tool& tool, const ExecutorRun& run) {
    switch (run.outcome) {
        case ExecutorRun::Outcome::failed:
            return error_result("zelto-cua could not run: " + run.error);
        case ExecutorRun::Outcome::timed_out:
        case ExecutorRun::Outcome::cancelled:
            return error_result("zelto-cua did not finish within " +
                                std::to_string(tool.time_limit.count()) + " seconds and was ended");
        case ExecutorRun::Outcome::finished:
            break;
    }
    const std::optional<Json> result = result_line(run.output);
    const Json* ok = result ? member(*result, "ok") : nullptr;
    if (ok == nullptr || !ok->is_boolean()) {
        return error_result("zelto-cua gave no result (exit status " +
                            std::to_string(run.exit_code) + ")");
    }
    const Json* data = member(*result, "data");
    if (!ok->get<bool>() || run.exit_code != 0) {
        return error_result(error_text(*result), data);
    }
    if (tool.name == "screenshot" && data != nullptr && data->is_object()) {
        ScreenshotResult shot = screenshot_result(*data, std::nullopt);
        return shot.error.empty() ? std::move(shot.result) : error_result(std::move(shot.error));
    }
    return success_result(data);
}

std::optional<Json> success_data(const ExecutorRun& run) {
    if (run.outcome != ExecutorRun::Outcome::finished || run.exit_code != 0) {
        return std::nullopt;
    }
    std::optional<Json> result = result_line(run.output);
    const Json* ok = result ? member(*result, "ok") : nullptr;
    if (ok == nullptr || *ok != true) {
        return std::nullopt;
    }
    const auto data = result->find("data");
    if (data == result->end() || !data->is_object()) {
        return std::nullopt;
    }
    return std::move(*data);
}

Json tool_error(std::string text) {
    return error_result(std::move(text));
}

}  // namespace mcp
