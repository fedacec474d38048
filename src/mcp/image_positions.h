// Positions given in pixels of a screenshot image this server returned
// ("coordinate"), turned into the display fractions the executor takes
// ("position"). A model reads points off the image it was shown, which is
// usually smaller than the display.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace mcp {

using Json = nlohmann::json;

// A returned screenshot: the image's size and the size of the display it was
// resampled from.
struct ImageGeometry {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t source_width = 0;
    std::int64_t source_height = 0;
    bool operator==(const ImageGeometry&) const = default;
};

// The geometry members of a screenshot's data ("width", "height",
// "sourceWidth", "sourceHeight"); none unless all are positive integers.
[[nodiscard]] std::optional<ImageGeometry> image_geometry(const Json& data);

// The source pixel an image pixel stands for: the middle of the block it was
// averaged from, floor((i + 0.5) * source / image), kept inside the source.
[[nodiscard]] std::int64_t source_pixel(std::int64_t image_pixel, std::int64_t image_size,
                                        std::int64_t source_size);

// The fraction the executor turns back into `pixel` (it rounds source × fraction).
[[nodiscard]] double source_fraction(std::int64_t pixel, std::int64_t source_size);

// Which screenshot a call's coordinates refer to: the call's "display_id"
// argument as JSON text, or none when it is absent or null.
using ScreenKey = std::optional<std::string>;
[[nodiscard]] ScreenKey screen_key(const Json& arguments);

// The most recent screenshot returned per key.
class ScreenshotMemory {
  public:
    void remember(const ScreenKey& key, const ImageGeometry& geometry);
    [[nodiscard]] const ImageGeometry* find(const ScreenKey& key) const;

  private:
    std::map<ScreenKey, ImageGeometry> seen_;
};

// A pixel argument and the position argument it stands in for.
struct CoordinateKey {
    std::string_view coordinate;
    std::string_view position;
};

// The pairs of the pointer tools: one point, or a drag's two.
inline constexpr CoordinateKey kPointKeys[] = {{"coordinate", "position"}};
inline constexpr CoordinateKey kDragKeys[] = {{"coordinate1", "position1"},
                                              {"coordinate2", "position2"}};

// The arguments with every coordinate of `keys` replaced by its position, or a
// message saying why a coordinate cannot be used (answer it as a tool error
// and run nothing).
[[nodiscard]] zelto::Result<Json> positions_from_coordinates(std::span<const CoordinateKey> keys,
                                                             const Json& arguments,
                                                             const ScreenshotMemory& memory);

}  // namespace mcp
