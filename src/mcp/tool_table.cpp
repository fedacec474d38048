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
constexpr std::string_view kElementHelp =
    "Or give element, an element id from the latest ui_elements of the window (window_id, else "
    "the window listed last): the element is found again and must still have the same role and "
    "name, else nothing is done; its window is brought forward first.";

// A tool that acts at one point, given as a coordinate or a position.
constexpr Tool point_tool(std::string_view name, std::string_view title, std::string_view summary,
                          bool acts_on_elements = false) {
    return Tool{.name = name,
                .title = title,
                .summary = summary,
                .time_limit = kActionLimit,
                .coordinates = kPointKeys,
                .explains_point = true,
                .names_displays = true,
                .acts_on_elements = acts_on_elements};
}

constexpr std::array<Tool, 25> kTools{{
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
    point_tool("move", "Move the pointer",
               "Moves the mouse pointer to a point without clicking and returns how the point "
               "was mapped to physical pixels."),
    point_tool("click", "Left-click",
               "Moves the pointer to a point and clicks: the left button, or button \"right\", "
               "\"middle\" (wheel), \"back\" or \"forward\"; clicks 2 for a double click, 3 "
               "for a triple click; modifiers such as [\"shift\"] or [\"ctrl\"] held during "
               "the click. Serves left_click, double_click, triple_click, middle_click (with "
               "modifier text) of Anthropic's computer tool and click and double_click of "
               "OpenAI's.",
               true),
    point_tool("right_click", "Right-click",
               "Moves the pointer to a point and clicks the right mouse button, usually opening "
               "a context menu; modifiers are held during the click. Serves right_click.",
               true),
    point_tool("scroll", "Scroll",
               "Moves the pointer to a point and turns the mouse wheel by amount notches: "
               "positive scrolls up, negative down (default 5, at most 25). With direction "
               "(up, down, left, right) amount counts notches that way; left and right turn the "
               "horizontal wheel. modifiers are held while scrolling (ctrl zooms in many "
               "programs). Serves scroll of Anthropic's tool (scroll_direction, scroll_amount) "
               "and of OpenAI's (scroll_y as up/down, scroll_x as left/right)."),
    {.name = "drag",
     .title = "Drag",
     .summary =
         "Presses the left mouse button at a start point, moves to an end point in small steps "
         "and releases it there. Give each point either in pixels of the most recent screenshot "
         "image (coordinate1, coordinate2: [x, y]; use these for what you see in a screenshot, "
         "with the same display_id as that screenshot, or none), or in fractions 0 to 1 of the "
         "display (position1, position2: [x, y], thousandths when above 1). display_id chooses "
         "the display for both. Or give path, two or more [x, y] pixel points of the "
         "screenshot image, passed in order. button (default left) and modifiers as for "
         "click. Serves left_click_drag and OpenAI's drag.",
     .time_limit = kActionLimit,
     .coordinates = kDragKeys,
     .names_displays = true},
    {.name = "mouse_down",
     .title = "Press a mouse button",
     .summary = "Presses a mouse button (default left) and keeps it down, optionally after "
                "moving to a point; release it with mouse_up. The server lets go of everything "
                "still held after 60 s or when the client disconnects. Serves left_mouse_down.",
     .time_limit = kActionLimit,
     .coordinates = kPointKeys,
     .explains_point = true,
     .names_displays = true},
    {.name = "mouse_up",
     .title = "Release a mouse button",
     .summary = "Releases a mouse button (default left), optionally after moving to a point. "
                "Serves left_mouse_up.",
     .time_limit = kActionLimit,
     .coordinates = kPointKeys,
     .explains_point = true,
     .names_displays = true},
    {.name = "key_down",
     .title = "Hold a key down",
     .summary = "Puts a key or chord down and keeps it down until key_up (at most 60 s; "
                "released when the client disconnects).",
     .time_limit = kActionLimit},
    {.name = "key_up",
     .title = "Let a key up",
     .summary = "Lets up a key or chord put down with key_down, in reverse order.",
     .time_limit = kActionLimit},
    {.name = "hold_key",
     .title = "Hold a key for a while",
     .summary = "Holds a key or chord down for duration seconds (at most 10), then lets it up. "
                "Serves hold_key of Anthropic's tool.",
     .time_limit = kActionLimit},
    {.name = "cursor_position",
     .title = "Where the pointer is",
     .summary = "Reports the pointer's display_id, its position in that display's pixels "
                "(display_relative) and, when it lies inside the latest screenshot of that "
                "display, its coordinate in that image. Serves cursor_position.",
     .read_only = true,
     .time_limit = kActionLimit},
    {.name = "zoom",
     .title = "Zoom into the screenshot",
     .summary = "Returns an image of region [x0, y0, x1, y1] (pixels of the most recent "
                "screenshot, same display_id rule as coordinate) taken at the display's full "
                "resolution, within the usual size limits. Later coordinates still refer to the "
                "screenshot, not to this image. Serves zoom.",
     .read_only = true,
     .time_limit = kActionLimit,
     .names_displays = true},
    {.name = "wait",
     .title = "Wait",
     .summary = "Waits seconds (0 to 30), then returns a fresh screenshot when screenshot is "
                "true. Serves wait.",
     .read_only = true,
     .time_limit = kActionLimit},
    {.name = "type",
     .title = "Type text",
     .summary = "Types text into the window that has the keyboard focus, as if typed on the "
                "keyboard; any Unicode text works. Click the target field first (or give its "
                "element, which is then clicked); while an input method is active the text is "
                "pasted through the clipboard instead.",
     .time_limit = kActionLimit,
     .acts_on_elements = true},
    {.name = "press",
     .title = "Press a key",
     .summary = "Presses a key or a chord: key \"Return\", \"ctrl+shift+t\", \"Page_Down\", "
                "\"KP_0\", \"F5\", \"minus\", \".\", in xdotool's or OpenAI's names, any "
                "case (Delete is the forward Delete key, BackSpace the one that erases to the "
                "left), or keys as a list pressed together ([\"CTRL\", \"C\"]). A single "
                "character is the key that types it. Serves key of Anthropic's tool and keypress "
                "of OpenAI's.",
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
    // --- windows and their controls as structure ---
    {.name = "list_windows",
     .title = "List the windows",
     .summary = "Lists every visible top-level window, front to back: its id (window_id of the "
                "other tools), title, class, process id and image name, rectangle in physical "
                "pixels, display_id, and whether it is minimized, maximized or in the foreground.",
     .read_only = true,
     .time_limit = kActionLimit},
    {.name = "focus_window",
     .title = "Bring a window forward",
     .summary = "Restores a window (by window_id from list_windows, or a part of its title), "
                "raises it and gives it the keyboard focus; move [x, y] and size [width, height] "
                "in physical pixels and maximize change it first, minimize or close instead act "
                "on it. Fails when no window matches or it does not come forward.",
     .time_limit = kActionLimit},
    {.name = "ui_elements",
     .title = "List a window's controls",
     .summary = "Lists the controls of a window (the foreground one, or window_id) through the "
                "accessibility interface, one line each: [id] role \"name\" = value, its centre "
                "as a position in thousandths of the display, and in pixels of the latest "
                "screenshot of that display when there is one, then its states. Pass an id as "
                "element to click, type or set_value. At most max_elements (default 500) within "
                "time_limit_ms (default 2000); interactive_only keeps buttons, edits, boxes, "
                "lists, links, menu items and tabs. A window that does not answer is skipped.",
     .read_only = true,
     .time_limit = kActionLimit,
     .lists_elements = true},
    {.name = "set_value",
     .title = "Set a field's text",
     .summary = "Replaces the text of an editable element (an edit or combo box from the latest "
                "ui_elements) with value, through the accessibility interface, else by clicking "
                "it, selecting all and typing.",
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
                                       std::pair{tool.acts_on_elements, kElementHelp},
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
