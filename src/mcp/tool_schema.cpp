#include "mcp/tool_schema.h"

#include "mcp/model_arguments.h"
#include "mcp/params_schemas.h"
#include "mcp/screenshot_tool.h"
#include "text/text.h"

namespace mcp {
namespace {

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

}  // namespace

// The action's schema with a coordinate accepted instead of each position.
Json input_schema(const Tool& tool) {
    if (std::optional<Json> own = model_input_schema(tool.name)) {
        return *own;
    }
    Json schema = Json::parse(params_schema_text(tool.name));
    if (tool.returns_image) {
        return screenshot_schema(schema);
    }
    schema.erase("examples");  // the executor's terms, not the tool's
    if (!schema.contains("properties")) {
        return schema;  // takes no arguments (and no coordinates)
    }
    Json& properties = schema["properties"];
    if (properties.contains("modifiers")) {
        properties["modifiers"]["description"] =
            "Keys held down during the action, such as [\"shift\"] or [\"ctrl\", \"alt\"]: "
            "xdotool or OpenAI key names, any case; each entry may be a chord (\"ctrl+shift\").";
    }
    if (properties.contains("button")) {
        properties["button"]["enum"].push_back("wheel");  // OpenAI's name of the middle button
    }
    if (properties.contains("path")) {
        properties["path"] =
            Json{{"type", "array"},
                 {"minItems", 2},
                 {"items", Json{{"type", "array"},
                                {"items", Json{{"type", "integer"}, {"minimum", 0}}},
                                {"minItems", 2},
                                {"maxItems", 2}}},
                 {"description",
                  "Two or more [x, y] points in pixels of the most recent screenshot image (same "
                  "display_id rule as coordinate1), passed in order; in place of the two points."}};
        schema.erase("anyOf");
    }
    const std::span<const CoordinateKey> keys = tool.coordinates;
    if (keys.empty()) {
        return schema;
    }
    schema.erase("$id");    // no longer the action's schema
    schema.erase("anyOf");  // "position or element": a coordinate may stand for the position
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

}  // namespace mcp
