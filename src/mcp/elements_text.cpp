#include "mcp/elements_text.h"

#include <cstdio>

#include "text/json_output.h"

namespace mcp {
namespace {

std::string number(const Json& value) {
    return value.is_number() ? text::json_dump(value) : "?";
}

std::string quoted(const Json& value) {
    return value.is_string() ? text::json_dump(value) : "\"\"";
}

// The display's origin from its "x,y,width,height" id.
bool display_origin(const Json& data, long long& x, long long& y) {
    const auto id = data.find("display_id");
    return id != data.end() && id->is_string() &&
           std::sscanf(id->get_ref<const std::string&>().c_str(), "%lld,%lld", &x, &y) == 2;
}

}  // namespace

const ImageGeometry* screenshot_of_display(const Json& data, const ScreenshotMemory& memory) {
    const auto id = data.find("display_id");
    if (id == data.end() || !id->is_string()) {
        return nullptr;
    }
    if (const ImageGeometry* found = memory.find(text::json_dump(*id))) {
        return found;
    }
    long long x = 0, y = 0;
    return display_origin(data, x, y) && x == 0 && y == 0 ? memory.find(std::nullopt) : nullptr;
}

std::string elements_text(const Json& data, const ImageGeometry* image) {
    const Json window = data.value("window", Json::object());
    const Json elements = data.value("elements", Json::array());
    std::string out =
        "Window " + number(window.value("id", Json())) + " " +
        quoted(window.value("title", Json())) + " (" + window.value("process_name", std::string()) +
        ", pid " + number(window.value("pid", Json())) + ") on display " +
        data.value("display_id", std::string()) + ": " + std::to_string(elements.size()) +
        " elements in " + number(data.value("elapsed_ms", Json())) + " ms" +
        (data.value("truncated", false) ? ", truncated" : "") + ".\n";
    out += "Each line: [element id] role \"name\" = value (position: thousandths of the display)";
    out += image != nullptr ? " [coordinate: pixels of the latest screenshot image]" : "";
    out += " {states}. Pass the id as element to click, type or set_value.\n";
    for (const Json& note : data.value("notes", Json::array())) {
        out += "Note: " + (note.is_string() ? note.get<std::string>() : note.dump()) + "\n";
    }
    long long origin_x = 0, origin_y = 0;
    display_origin(data, origin_x, origin_y);
    for (const Json& element : elements) {
        // Appended piece by piece: one long concatenation trips a false bounds warning of GCC 12.
        out += '[';
        out += number(element.value("id", Json()));
        out += "] ";
        out += element.value("role", std::string());
        out += ' ';
        out += quoted(element.value("name", Json()));
        const std::string value = element.value("value", std::string());
        if (!value.empty()) {
            out += " = " + text::json_dump(Json(value));
        }
        const Json position = element.value("position", Json::array());
        if (position.size() == 2) {
            out += " (" + number(position[0]) + ", " + number(position[1]) + ")";
        }
        const Json center = element.value("center", Json::array());
        if (image != nullptr && center.size() == 2 && center[0].is_number_integer() &&
            center[1].is_number_integer()) {
            // The image pixel whose block holds the centre.
            const long long dx = center[0].get<long long>() - origin_x;
            const long long dy = center[1].get<long long>() - origin_y;
            if (dx >= 0 && dy >= 0 && dx < image->source_width && dy < image->source_height) {
                out += " [" + std::to_string(dx * image->width / image->source_width) + ", " +
                       std::to_string(dy * image->height / image->source_height) + "]";
            }
        }
        const Json states = element.value("states", Json::array());
        if (!states.empty()) {
            std::string joined;
            for (const Json& state : states) {
                joined += (joined.empty() ? "" : ", ") +
                          (state.is_string() ? state.get<std::string>() : state.dump());
            }
            out += " {" + joined + "}";
        }
        out += "\n";
    }
    return out;
}

}  // namespace mcp
