#include "mcp/screenshot_tool.h"

#include <array>
#include <cmath>
#include <string_view>

#include "text/json_reader.h"
#include "text/text.h"

namespace mcp {
namespace {

constexpr std::array<std::string_view, 3> kFormats{"auto", "png", "jpeg"};

struct ImageKind {
    std::string_view prefix;
    std::string_view mime_type;
    std::string_view name;
};
constexpr std::array<ImageKind, 2> kImageKinds{{
    {"data:image/png;base64,", "image/png", "PNG"},
    {"data:image/jpeg;base64,", "image/jpeg", "JPEG"},
}};

// The longest values the executor reports: four 32-bit integers.
constexpr std::string_view kLongestDisplayId = "-2147483648,-2147483648,-2147483648,-2147483648";
constexpr std::int64_t kLongestSize = 2147483647;

bool known_format(std::string_view format) {
    for (const std::string_view known : kFormats) {
        if (format == known) {
            return true;
        }
    }
    return false;
}

std::string dimensions(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string screenshot_text(const std::string& display_id, const ImageGeometry& image,
                            std::string_view format, const ScreenKey& key) {
    const std::string same_display =
        key ? text::concat({"display_id ", *key}) : std::string("no display_id");
    return text::concat(
        {"display_id ", display_id, ": a ", dimensions(image.width, image.height), " ", format,
         " image of the ", dimensions(image.source_width, image.source_height),
         "-pixel display. To act on a point you see in this image, give coordinate [x, y] in "
         "pixels of this image (x from 0 to ",
         std::to_string(image.width - 1), ", y from 0 to ", std::to_string(image.height - 1),
         "; drag: coordinate1 and coordinate2) with ", same_display,
         ", as in this call. position instead takes fractions 0 to 1 of the display (thousandths "
         "above 1)."});
}

}  // namespace

ScreenshotSettings screenshot_settings_from_env(
    const std::function<std::optional<std::string>(const std::string&)>& get_env,
    const std::function<void(const std::string&)>& warn) {
    ScreenshotSettings settings;
    const auto read_number = [&](const char* name, std::int64_t low, std::int64_t high,
                                 std::int64_t& target) {
        const std::optional<std::string> raw = get_env(name);
        if (!raw) {
            return;
        }
        const std::string value = text::trim(*raw);
        if (const auto number = text::decimal_number(value, low, high)) {
            target = static_cast<std::int64_t>(*number);
            return;
        }
        warn(text::concat({"[CUA-mcp] ", name, " must be a whole number from ", std::to_string(low),
                           " to ", std::to_string(high), ", not \"", value, "\": using ",
                           std::to_string(target)}));
    };
    read_number("ZELTO_CUA_MCP_MAX_SIZE", 1, kLargestMaxSize, settings.max_size);
    read_number("ZELTO_CUA_MCP_MAX_RESPONSE_BYTES", kSmallestMaxResponseBytes,
                kLargestMaxResponseBytes, settings.max_response_bytes);
    if (const std::optional<std::string> raw = get_env("ZELTO_CUA_MCP_IMAGE_FORMAT")) {
        const std::string value = text::trim(*raw);
        if (known_format(value)) {
            settings.format = value;
        } else {
            warn(
                text::concat({"[CUA-mcp] ZELTO_CUA_MCP_IMAGE_FORMAT must be auto, png or jpeg, "
                              "not \"",
                              value, "\": using ", settings.format}));
        }
    }
    return settings;
}

zelto::Result<Json> screenshot_params(const Json& arguments, const ScreenshotSettings& settings) {
    Json params = arguments;
    params["max_size"] = settings.max_size;
    params["format"] = settings.format;
    if (const auto size = arguments.find("max_size"); size != arguments.end() && !size->is_null()) {
        const std::optional<std::uint64_t> value = text::whole_number(*size, 1, kLargestMaxSize);
        if (!value) {
            return zelto::fail("max_size must be a whole number of pixels from 1 to " +
                               std::to_string(kLargestMaxSize));
        }
        params["max_size"] = static_cast<std::int64_t>(*value);
    }
    if (const auto format = arguments.find("format");
        format != arguments.end() && !format->is_null()) {
        if (!format->is_string() || !known_format(format->get<std::string>())) {
            return zelto::fail("format must be \"auto\", \"png\" or \"jpeg\"");
        }
        params["format"] = *format;
    }
    return params;
}

std::int64_t image_budget(std::int64_t room) {
    // Base64 writes each 3 bytes as 4 characters; a whole number of groups
    // never ends in a padded one that overshoots.
    return room <= 0 ? 0 : room / 4 * 3;
}

zelto::Result<ScreenshotImage> screenshot_result(const Json& data, const ScreenKey& key) {
    const std::optional<ImageGeometry> geometry = image_geometry(data);
    const auto image = data.find("image");
    const auto display_id = data.find("display_id");
    if (!geometry || image == data.end() || !image->is_string() || display_id == data.end() ||
        !display_id->is_string()) {
        return zelto::fail("zelto-cua returned a screenshot without its image or geometry");
    }
    const std::string& url = image->get_ref<const std::string&>();
    for (const ImageKind& kind : kImageKinds) {
        if (url.starts_with(kind.prefix)) {
            Json result{
                {"content",
                 Json::array({Json{{"type", "image"},
                                   {"data", url.substr(kind.prefix.size())},
                                   {"mimeType", std::string(kind.mime_type)}},
                              Json{{"type", "text"},
                                   {"text", screenshot_text(display_id->get<std::string>(),
                                                            *geometry, kind.name, key)}}})}};
            return ScreenshotImage{std::move(result), *geometry};
        }
    }
    return zelto::fail("zelto-cua returned a screenshot that is neither PNG nor JPEG");
}

Json screenshot_envelope(const ScreenKey& key) {
    const Json longest{{"display_id", std::string(kLongestDisplayId)},
                       {"image", "data:image/jpeg;base64,"},
                       {"width", kLongestSize},
                       {"height", kLongestSize},
                       {"sourceWidth", kLongestSize},
                       {"sourceHeight", kLongestSize}};
    return screenshot_result(longest, key)->result;
}

}  // namespace mcp
