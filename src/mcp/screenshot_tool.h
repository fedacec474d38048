// The screenshot tool fitted to what MCP clients and model APIs accept: the
// image's longer side limited, the whole response line kept within a byte
// limit, and the image followed by a text saying how to point into it.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "common/result.h"
#include "mcp/image_positions.h"

namespace mcp {

using Json = nlohmann::json;

// Anthropic's API shrinks images whose longer side exceeds 1568 px before the
// model sees them, and refuses any over 8000 px.
inline constexpr std::int64_t kDefaultMaxSize = 1568;
inline constexpr std::int64_t kLargestMaxSize = 8000;
// Claude Desktop refuses tool results over 1 MiB; this leaves a margin.
inline constexpr std::int64_t kDefaultMaxResponseBytes = 1'000'000;
// Below this no useful image fits beside the envelope.
inline constexpr std::int64_t kSmallestMaxResponseBytes = 16 * 1024;
inline constexpr std::int64_t kLargestMaxResponseBytes = 1'000'000'000;

// Server-wide defaults; the environment variables below replace them.
struct ScreenshotSettings {
    std::int64_t max_size = kDefaultMaxSize;                     // ZELTO_CUA_MCP_MAX_SIZE
    std::int64_t max_response_bytes = kDefaultMaxResponseBytes;  // ZELTO_CUA_MCP_MAX_RESPONSE_BYTES
    std::string format = "auto";                                 // ZELTO_CUA_MCP_IMAGE_FORMAT
};

// Reads the variables through `get_env`; a bad value is reported through
// `warn` (one line) and the default kept.
[[nodiscard]] ScreenshotSettings screenshot_settings_from_env(
    const std::function<std::optional<std::string>(const std::string&)>& get_env,
    const std::function<void(const std::string&)>& warn);

// The executor's params for one call: the arguments with "max_size" and
// "format" settled ("max_bytes" is set per attempt), or why they are unusable
// (a tool error; nothing is run).
[[nodiscard]] zelto::Result<Json> screenshot_params(const Json& arguments,
                                                    const ScreenshotSettings& settings);

// The most encoded image bytes whose base64 takes at most `room` bytes.
[[nodiscard]] std::int64_t image_budget(std::int64_t room);

// The tool result for a screenshot's data: an image item whose mimeType is the
// data URL's, then the text; no structuredContent, which some clients show
// instead of the content items, dropping the image. A failure: the data held
// no usable image.
struct ScreenshotImage {
    Json result;
    ImageGeometry geometry;
};
[[nodiscard]] zelto::Result<ScreenshotImage> screenshot_result(const Json& data,
                                                               const ScreenKey& key);

// The same result for the longest geometry the executor reports, with no image
// bytes: everything of the response but the base64.
[[nodiscard]] Json screenshot_envelope(const ScreenKey& key);

}  // namespace mcp
