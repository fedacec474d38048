#include "mcp/image_positions.h"

#include <algorithm>
#include <cmath>

#include "text/json_output.h"
#include "text/json_reader.h"

namespace mcp {
namespace {

std::optional<std::int64_t> positive_integer(const Json& data, const char* key) {
    const auto found = data.find(key);
    if (found == data.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    const std::int64_t value = found->get<std::int64_t>();
    return value > 0 ? std::optional(value) : std::nullopt;
}

constexpr std::int64_t kNotAPixel = -1;
// Past every image; stands for any larger number.
constexpr std::int64_t kFarOutside = std::int64_t{1} << 53;

// A whole number of at least 0 (7.0 counts: some clients send every number as
// floating point), else kNotAPixel.
std::int64_t pixel_value(const Json& value) {
    const std::optional<std::uint64_t> number = text::whole_number(value);
    return number ? static_cast<std::int64_t>(
                        std::min<std::uint64_t>(*number, static_cast<std::uint64_t>(kFarOutside)))
                  : kNotAPixel;
}

std::string screen_name(const ScreenKey& key) {
    return key ? "display_id " + *key : "no display_id";
}

zelto::Result<Json> convert(std::string_view name, const Json& coordinate, const ImageGeometry& image) {
    const bool pair = coordinate.is_array() && coordinate.size() == 2;
    const std::int64_t x = pair ? pixel_value(coordinate[0]) : kNotAPixel;
    const std::int64_t y = pair ? pixel_value(coordinate[1]) : kNotAPixel;
    if (x == kNotAPixel || y == kNotAPixel) {
        return zelto::fail(std::string(name) +
                           " must be [x, y]: two whole numbers, 0 or more, in pixels of the "
                             "most recent screenshot image");
    }
    if (x >= image.width || y >= image.height) {
        return zelto::fail(std::string(name) + " " + text::json_dump(coordinate) +
                             " lies outside the most recent screenshot image, which is " +
                             std::to_string(image.width) + "x" + std::to_string(image.height) +
                             " pixels (x from 0 to " + std::to_string(image.width - 1) +
                             ", y from 0 to " + std::to_string(image.height - 1) + ")");
    }
    const auto fraction = [](std::int64_t pixel, std::int64_t size, std::int64_t source) {
        return source_fraction(source_pixel(pixel, size, source), source);
    };
    return Json::array({fraction(x, image.width, image.source_width),
                        fraction(y, image.height, image.source_height)});
}

}  // namespace

std::optional<ImageGeometry> image_geometry(const Json& data) {
    if (!data.is_object()) {
        return std::nullopt;
    }
    const auto width = positive_integer(data, "width");
    const auto height = positive_integer(data, "height");
    const auto source_width = positive_integer(data, "sourceWidth");
    const auto source_height = positive_integer(data, "sourceHeight");
    if (!width || !height || !source_width || !source_height) {
        return std::nullopt;
    }
    return ImageGeometry{*width, *height, *source_width, *source_height};
}

std::int64_t source_pixel(std::int64_t image_pixel, std::int64_t image_size,
                          std::int64_t source_size) {
    // (2i + 1) * source / (2 * image) in integers: no rounding error at block edges.
    const std::int64_t pixel = (2 * image_pixel + 1) * source_size / (2 * image_size);
    return std::clamp<std::int64_t>(pixel, 0, source_size - 1);
}

double source_fraction(std::int64_t pixel, std::int64_t source_size) {
    return static_cast<double>(pixel) / static_cast<double>(source_size);
}

ScreenKey screen_key(const Json& arguments) {
    const auto found = arguments.find("display_id");
    if (found == arguments.end() || found->is_null()) {
        return std::nullopt;
    }
    return text::json_dump(*found);
}

void ScreenshotMemory::remember(const ScreenKey& key, const ImageGeometry& geometry) {
    seen_[key] = geometry;
}

const ImageGeometry* ScreenshotMemory::find(const ScreenKey& key) const {
    const auto found = seen_.find(key);
    return found == seen_.end() ? nullptr : &found->second;
}

zelto::Result<Json> positions_from_coordinates(std::span<const CoordinateKey> keys_of_tool,
                                               const Json& arguments,
                                               const ScreenshotMemory& memory) {
    Json out = arguments;
    for (const CoordinateKey& keys : keys_of_tool) {
        const std::string coordinate_name(keys.coordinate);
        const std::string position_name(keys.position);
        const auto coordinate = arguments.find(coordinate_name);
        // Some clients send null for every optional argument they leave out.
        if (coordinate == arguments.end() || coordinate->is_null()) {
            out.erase(coordinate_name);
            continue;
        }
        const auto position = arguments.find(position_name);
        if (position != arguments.end() && !position->is_null()) {
            return zelto::fail("Give either " + position_name + " (fractions of the display) or " +
                               coordinate_name + " (pixels of the screenshot image), not both");
        }
        // The executor would scale the converted position by it instead of the display.
        if (arguments.contains("_screen")) {
            return zelto::fail("_screen applies to " + position_name + " only; " + coordinate_name +
                               " is already in pixels of the most recent screenshot image");
        }
        const ScreenKey key = screen_key(arguments);
        const ImageGeometry* image = memory.find(key);
        if (image == nullptr) {
            return zelto::fail("No screenshot yet with " + screen_name(key) + ": " +
                               coordinate_name +
                               " is in pixels of the most recent screenshot taken with the same "
                               "display_id (or none). Take a screenshot first, or give " +
                               position_name + " as fractions of the display");
        }
        zelto::Result<Json> converted = convert(coordinate_name, *coordinate, *image);
        if (!converted) {
            return converted;
        }
        out.erase(coordinate_name);
        out[position_name] = std::move(*converted);
    }
    return out;
}

}  // namespace mcp
