#include "mcp/tool_table.h"

#include <array>

#include "mcp/tool_schema.h"
#include "text/json_output.h"

namespace mcp {
namespace {

using std::chrono::seconds;

// Every action but PowerShell ends well within this.
constexpr seconds kActionLimit{30};
// PowerShell: two runs of at most 30 s each (one retry), plus a margin.
constexpr seconds kPowerShellLimit{2 * 30 + 10};

// The help that several tools share, written once.
constexpr std::string_view kPointHelp =
    "Give the point either as coordinate [x, y] in pixels of the most recent screenshot image "
    "(use this for what you see in a screenshot; pass the same display_id as that screenshot, "
    "or none), or as position [x, y] in fractions 0 to 1 of the display, thousandths when above "
    "1 ([500, 500] is the centre). display_id chooses the display, the primary one by default.";
constexpr std::string_view kDisplayHelp = "list_displays lists every display_id.";

constexpr std::array<Tool, 13> kTools{{
    {.name = "screenshot",
     .title = "Take a screenshot",
     .summary =
         "Captures one display and returns it as an image (PNG, or JPEG when a PNG would be too "
         "large for the client), by default at most 1568 pixels on its longer side, followed by "
         "a text giving the display_id, the image and display sizes, the format and how to point "
         "into the image. Without display_id the primary display is captured. max_size (1 to "
         "8000 pixels) and format (auto, png or jpeg) change this call only. To act on something "
         "seen in the image, pass its pixel position in the image as coordinate to move, click, "
         "right_click or scroll (drag: coordinate1, coordinate2) with the same display_id as "
         "here, or none.",
     .read_only = true,
     .time_limit = kActionLimit,
     .returns_image = true,
     .names_displays = true},
    {.name = "move",
     .title = "Move the pointer",
     .summary = "Moves the mouse pointer to a point without clicking and returns how the point "
                "was mapped to physical pixels.",
     .time_limit = kActionLimit,
     .coordinates = kPointKeys,
     .explains_point = true,
     .names_displays = true},
    {.name = "click",
     .title = "Left-click",
     .summary = "Moves the pointer to a point and clicks the left mouse button.",
     .time_limit = kActionLimit,
     .coordinates = kPointKeys,
     .explains_point = true,
     .names_displays = true},
    {.name = "right_click",
     .title = "Right-click",
     .summary = "Moves the pointer to a point and clicks the right mouse button, usually opening "
                "a context menu.",
     .time_limit = kActionLimit,
     .coordinates = kPointKeys,
     .explains_point = true,
     .names_displays = true},
    {.name = "scroll",
     .title = "Scroll",
     .summary = "Moves the pointer to a point and turns the mouse wheel by amount notches: "
                "positive scrolls up, negative down (default 5, at most 25).",
     .time_limit = kActionLimit,
     .coordinates = kPointKeys,
     .explains_point = true,
     .names_displays = true},
    {.name = "drag",
     .title = "Drag",
     .summary =
         "Presses the left mouse button at a start point, moves to an end point in small steps "
         "and releases it there. Give each point either in pixels of the most recent screenshot "
         "image (coordinate1, coordinate2: [x, y]; use these for what you see in a screenshot, "
         "with the same display_id as that screenshot, or none), or in fractions 0 to 1 of the "
         "display (position1, position2: [x, y], thousandths when above 1). display_id chooses "
         "the display for both.",
     .time_limit = kActionLimit,
     .coordinates = kDragKeys,
     .names_displays = true},
    {.name = "type",
     .title = "Type text",
     .summary = "Types text into the window that has the keyboard focus, as if typed on the "
                "keyboard; any Unicode text works. Click the target field first; while an input "
                "method is active the text is pasted through the clipboard instead.",
     .time_limit = kActionLimit},
    {.name = "press",
     .title = "Press a key",
     .summary = "Presses and releases one key, given by name: enter, tab, escape, backspace, "
                "delete, space, up, down, left, right, home, end, pageup, pagedown, f1 to f12, or "
                "a single character. An unknown name is reported as an error.",
     .time_limit = kActionLimit},
    {.name = "press_combination",
     .title = "Press a key combination",
     .summary = "Presses a key combination such as ctrl+c or ctrl+shift+t, given as key1, key2 "
                "and optionally key3. Modifiers (ctrl, shift, alt, win) are held down while the "
                "other keys are pressed, then everything is released.",
     .time_limit = kActionLimit},
    {.name = "open_app",
     .title = "Open an application",
     .summary = "Opens an application by name (Start Menu and installed programs are searched), "
                "or brings its window forward when it is already open, then maximizes it on the "
                "chosen display and gives it the keyboard focus. display_id (from a screenshot's "
                "result) chooses the display; the result names the window and its process id.",
     .time_limit = kActionLimit,
     .names_displays = true},
    {.name = "run_powershell",
     .title = "Run a PowerShell script",
     .summary = "Runs a Windows PowerShell script in a hidden process with the user's rights and "
                "returns its output as text (30 seconds per run, one retry when a run fails). A "
                "short list of dangerous operations is refused, but this is not a sandbox: "
                "review scripts before running them.",
     .destructive = true,
     .time_limit = kPowerShellLimit},
    {.name = "check_permissions",
     .title = "Check permissions",
     .summary = "Reports whether input control (accessibility) and screen capture "
                "(screen_recording) are permitted; on Windows both always are. A quick way to "
                "check that the executor runs.",
     .read_only = true,
     .time_limit = kActionLimit},
    {.name = "list_displays",
     .title = "List the displays",
     .summary = "Lists every display (monitor) of the desktop, sorted by position from the left: "
                "its display_id, x, y, width and height in physical pixels, whether it is the "
                "primary display (the default of the other tools), and its scale (1.5 at 150 %) "
                "where the system reports one. Pass a display_id from here to screenshot, the "
                "pointer tools or open_app.",
     .read_only = true,
     .time_limit = kActionLimit},
}};

Json annotations(const Tool& tool) {
    Json hints{{"title", std::string(tool.title)}, {"readOnlyHint", tool.read_only}};
    if (!tool.read_only) {
        hints["destructiveHint"] = tool.destructive;
    }
    return hints;
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

std::string tool_description(const Tool& tool) {
    std::string description(tool.summary);
    for (const auto& [wanted, help] : {std::pair{tool.explains_point, kPointHelp},
                                       std::pair{tool.names_displays, kDisplayHelp}}) {
        if (wanted) {
            description += ' ';
            description += help;
        }
    }
    return description;
}

Json tools_list_result() {
    Json list = Json::array();
    for (const Tool& tool : kTools) {
        list.push_back(Json{{"name", std::string(tool.name)},
                            {"title", std::string(tool.title)},
                            {"description", tool_description(tool)},
                            {"inputSchema", input_schema(tool)},
                            {"annotations", annotations(tool)}});
    }
    return Json{{"tools", std::move(list)}};
}

std::string executor_request(const Tool& tool, const Json& arguments) {
    return text::json_dump(Json{{"action", std::string(tool.name)}, {"params", arguments}}) + "\n";
}

}  // namespace mcp
