#include "mcp/model_arguments.h"

#include <algorithm>
#include <cmath>

#include "mcp/model_keys.h"
#include "text/json_output.h"

namespace mcp {
namespace {

constexpr double kLongestWaitSeconds = 30.0;

// Every chord of a "key" string or "keys" list, in the executor's names and in order.
zelto::Result<std::vector<std::string>> key_names(const Json& arguments, bool required) {
    std::vector<std::string> names;
    const auto add = [&names](const Json& chord) -> zelto::Status {
        if (!chord.is_string()) {
            return zelto::fail("key names must be strings such as \"ctrl+shift+t\" or \"Return\"");
        }
        auto parsed = parse_chord(chord.get<std::string>());
        if (!parsed) {
            return zelto::fail(parsed.error());
        }
        names.insert(names.end(), parsed->begin(), parsed->end());
        return zelto::done();
    };
    if (const auto keys = arguments.find("keys"); keys != arguments.end() && !keys->is_null()) {
        if (!keys->is_array()) {
            return zelto::fail("keys must be a list of key names");
        }
        for (const Json& chord : *keys) {
            if (const zelto::Status added = add(chord); !added) {
                return zelto::fail(added.error());
            }
        }
    }
    if (const auto key = arguments.find("key"); key != arguments.end() && !key->is_null()) {
        if (const zelto::Status added = add(*key); !added) {
            return zelto::fail(added.error());
        }
    }
    if (required && names.empty()) {
        return zelto::fail("Give key, a key name or chord such as \"ctrl+shift+t\"");
    }
    return names;
}

// "modifiers" in the executor's names; each entry may itself be a chord.
zelto::Result<Json> modifiers_of(const Json& arguments) {
    const auto modifiers = arguments.find("modifiers");
    if (modifiers == arguments.end() || modifiers->is_null()) {
        return Json();
    }
    Json keys = Json{{"keys", modifiers->is_string() ? Json::array({*modifiers}) : *modifiers}};
    auto names = key_names(keys, false);
    if (!names) {
        return zelto::fail("modifiers: " + names.error());
    }
    return Json(*names);
}

// The arguments without those a tool consumed here.
Json without(Json arguments, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        arguments.erase(key);
    }
    return arguments;
}

// A "path" of image pixels as positions of the display.
zelto::Result<Json> path_positions(const Json& arguments, const ScreenshotMemory& memory) {
    const Json& path = arguments["path"];
    if (!path.is_array() || path.size() < 2) {
        return zelto::fail("path must list two or more [x, y] points of the screenshot image");
    }
    Json positions = Json::array();
    for (const Json& point : path) {
        Json single{{"coordinate", point}};
        if (arguments.contains("display_id")) {
            single["display_id"] = arguments["display_id"];
        }
        auto converted = positions_from_coordinates(kPointKeys, single, memory);
        if (!converted) {
            return zelto::fail("path: " + converted.error());
        }
        positions.push_back((*converted)["position"]);
    }
    return positions;
}

// A zoom region of image pixels [x0, y0, x1, y1] (x1, y1 exclusive) in display pixels.
zelto::Result<Json> region_pixels(const Json& arguments, const ScreenshotMemory& memory) {
    const auto region = arguments.find("region");
    const ImageGeometry* image = memory.find(screen_key(arguments));
    if (region == arguments.end() || !region->is_array() || region->size() != 4) {
        return zelto::fail("region must be [x0, y0, x1, y1] in pixels of the screenshot image");
    }
    if (image == nullptr) {
        return zelto::fail(
            "No screenshot yet with this display_id: region is in pixels of the most recent "
            "screenshot taken with the same display_id (or none). Take a screenshot first");
    }
    std::int64_t v[4];
    for (std::size_t i = 0; i < 4; ++i) {
        const Json& value = (*region)[i];
        if (!value.is_number_integer() || value.get<std::int64_t>() < 0) {
            return zelto::fail("region must be four whole numbers of pixels, 0 or more");
        }
        v[i] = value.get<std::int64_t>();
    }
    if (v[0] >= v[2] || v[1] >= v[3] || v[2] > image->width || v[3] > image->height) {
        return zelto::fail(
            "region [x0, y0, x1, y1] needs x0 < x1 <= " + std::to_string(image->width) +
            " and y0 < y1 <= " + std::to_string(image->height) + " (the screenshot image's size)");
    }
    const auto edge = [](std::int64_t pixel, std::int64_t size, std::int64_t source) {
        return pixel * source / size;
    };
    Json pixels{edge(v[0], image->width, image->source_width),
                edge(v[1], image->height, image->source_height),
                std::max<std::int64_t>(edge(v[2], image->width, image->source_width), 2),
                std::max<std::int64_t>(edge(v[3], image->height, image->source_height), 2)};
    // The executor reads [0, 0, 1, 1] as fractions; two pixels is the least it reads as pixels.
    return pixels;
}

Json string_schema(const char* description) {
    return Json{{"type", "string"}, {"description", description}};
}

constexpr const char* kKeyHelp =
    "A key or chord joined by \"+\": \"Return\", \"ctrl+shift+t\", \"Page_Down\", \"KP_0\", "
    "\"minus\", \"DELETE\" (the forward Delete key), \"BackSpace\", \"super\", or a single "
    "character such as \".\". xdotool and OpenAI key names, any case.";

}  // namespace

zelto::Result<ExecutorCall> executor_call(std::string_view tool, const Json& arguments,
                                          const ScreenshotMemory& memory) {
    const std::string name(tool);
    Json params = arguments;
    if (const auto modifiers = arguments.find("modifiers"); modifiers != arguments.end()) {
        auto names = modifiers_of(arguments);
        if (!names) {
            return zelto::fail(names.error());
        }
        params.erase("modifiers");
        if (!names->is_null()) {
            params["modifiers"] = std::move(*names);
        }
    }
    if (const auto button = arguments.find("button");
        button != arguments.end() && *button == "wheel") {
        params["button"] = "middle";  // OpenAI's name of the middle button
    }
    if (tool == "press") {
        auto names = key_names(arguments, true);
        if (!names) {
            return zelto::fail(names.error());
        }
        // One key that is no modifier is a press: a character gets its Shift or AltGr.
        if (names->size() == 1 && !is_modifier_name(names->front())) {
            return ExecutorCall{"press", Json{{"key", names->front()}}};
        }
        return ExecutorCall{"press_combination", Json{{"keys", *names}}};
    }
    if (tool == "key_down" || tool == "key_up" || tool == "hold_key") {
        auto names = key_names(arguments, true);
        if (!names) {
            return zelto::fail(names.error());
        }
        params = without(params, {"key"});
        params["keys"] = *names;
        return ExecutorCall{name, std::move(params)};
    }
    if (tool == "drag" && arguments.contains("path") && !arguments["path"].is_null()) {
        auto positions = path_positions(arguments, memory);
        if (!positions) {
            return zelto::fail(positions.error());
        }
        params["path"] = std::move(*positions);
    }
    if (tool == "zoom") {
        auto region = region_pixels(arguments, memory);
        if (!region) {
            return zelto::fail(region.error());
        }
        params = without(params, {"region"});
        params["region"] = std::move(*region);
        return ExecutorCall{"screenshot", std::move(params)};
    }
    if (tool == "wait") {
        const bool screenshot = arguments.value("screenshot", false);
        return ExecutorCall{screenshot ? "screenshot" : "",
                            without(params, {"seconds", "screenshot"})};
    }
    return ExecutorCall{name, std::move(params)};
}

zelto::Result<double> wait_seconds(const Json& arguments) {
    const auto seconds = arguments.find("seconds");
    if (seconds == arguments.end() || !seconds->is_number() || !(seconds->get<double>() >= 0) ||
        seconds->get<double>() > kLongestWaitSeconds) {
        return zelto::fail("seconds must be a number from 0 to 30");
    }
    return seconds->get<double>();
}

Json with_image_coordinate(Json data, const ScreenshotMemory& memory) {
    if (!data.is_object() || !data.contains("display_id") || !data.contains("display_relative")) {
        return data;
    }
    const Json& screen = data["screen"];
    // The screenshot taken with this display_id, else the one taken without any when it was
    // of a display this size.
    const ImageGeometry* image = memory.find(ScreenKey(text::json_dump(data["display_id"])));
    if (image == nullptr) {
        image = memory.find(std::nullopt);
        if (image != nullptr && !(screen == Json{image->source_width, image->source_height})) {
            image = nullptr;
        }
    }
    if (image == nullptr) {
        return data;
    }
    const std::int64_t dx = data["display_relative"][0];
    const std::int64_t dy = data["display_relative"][1];
    if (dx < 0 || dy < 0 || dx >= image->source_width || dy >= image->source_height) {
        return data;
    }
    data["coordinate"] = {dx * image->width / image->source_width,
                          dy * image->height / image->source_height};
    return data;
}

std::optional<Json> model_input_schema(std::string_view tool) {
    const Json schema_version = "https://json-schema.org/draft/2020-12/schema";
    const auto object = [&](Json properties, Json required) {
        Json schema{{"$schema", schema_version}, {"type", "object"}, {"properties", properties}};
        if (!required.empty()) {
            schema["required"] = std::move(required);
        }
        return schema;
    };
    if (tool == "press") {
        return object({{"key", string_schema(kKeyHelp)},
                       {"keys",
                        {{"type", "array"},
                         {"items", {{"type", "string"}}},
                         {"description",
                          "Keys pressed together, as OpenAI's keypress lists them "
                          "([\"CTRL\", \"C\"]); in place of key."}}}},
                      Json::array());
    }
    if (tool == "key_down" || tool == "key_up") {
        return object({{"key", string_schema(kKeyHelp)}}, {"key"});
    }
    if (tool == "hold_key") {
        return object({{"key", string_schema(kKeyHelp)},
                       {"duration",
                        {{"type", "number"},
                         {"minimum", 0},
                         {"maximum", 10},
                         {"description", "Seconds to hold, at most 10."}}}},
                      {"key", "duration"});
    }
    if (tool == "zoom") {
        return object(
            {{"region",
              {{"type", "array"},
               {"items", {{"type", "integer"}, {"minimum", 0}}},
               {"minItems", 4},
               {"maxItems", 4},
               {"description",
                "[x0, y0, x1, y1] in pixels of the most recent screenshot image "
                "(x1, y1 exclusive), taken with the same display_id or none."}}},
             {"display_id", string_schema("The display_id of that screenshot, if it had one.")},
             {"max_size",
              {{"type", "integer"},
               {"minimum", 1},
               {"maximum", 8000},
               {"description", "Longest side of the returned image in pixels."}}}},
            {"region"});
    }
    if (tool == "wait") {
        return object(
            {{"seconds",
              {{"type", "number"},
               {"minimum", 0},
               {"maximum", 30},
               {"description", "Seconds to wait, 0 to 30."}}},
             {"screenshot",
              {{"type", "boolean"}, {"description", "Return a fresh screenshot after the wait."}}},
             {"display_id", string_schema("The display to capture afterwards.")}},
            {"seconds"});
    }
    if (tool == "cursor_position") {
        return object(Json::object(), Json::array());
    }
    return std::nullopt;
}

}  // namespace mcp
