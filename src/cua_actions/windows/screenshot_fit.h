#pragma once
// The screenshot fitted for a model: the request's limits (longer side, byte
// budget, format), the area-averaging resampler, and the loop that picks the
// format, JPEG quality and image size that fit the budget. Pure functions; the
// encoders are handed in.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cua_actions/action_result.h"
#include "cua_actions/windows/screenshot_encode.h"

namespace cua_actions::windows {

enum class FitFormat { automatic, png, jpeg };
enum class ImageFormat { png, jpeg };

struct FitRequest {
    std::optional<std::int32_t> max_size;    // limit of the longer side; none: no limit
    std::optional<std::uint64_t> max_bytes;  // budget of the encoded bytes; none: no budget
    FitFormat format = FitFormat::automatic;
};

// Nothing when params names none of "max_size", "max_bytes" and "format" (the
// plain screenshot); a request, or the message for an unusable value.
std::optional<std::variant<FitRequest, std::string>> read_fit_request(const Json& params);

// The image size for a source and a longer-side limit: the source size when it
// fits (never enlarged), else the longer side becomes the limit and the shorter
// max(1, round(shorter * limit / longer)).
ImageSize fitted_size(ImageSize source, std::optional<std::int32_t> max_size);

// Exact area average: image pixel x covers source columns [x*sw/iw, (x+1)*sw/iw)
// (likewise rows), each source pixel weighted by its overlap. Image sizes at
// most the source size, at least 1x1. BGRX in, BGRX out (fourth byte 0).
std::vector<std::uint8_t> resample_area_average(BgrxView source, ImageSize size);

struct EncodedImage {
    ImageFormat format = ImageFormat::png;
    ImageSize size;
    int quality = 0;  // JPEG only
    std::vector<std::uint8_t> bytes;
};

// Encodes the source resampled to `size` in `format` (quality for JPEG), or
// returns the encoder's failure message.
using FitEncoder = std::function<std::variant<EncodedImage, std::string>(
    ImageSize size, ImageFormat format, int quality)>;

// JPEG qualities tried in turn while the image does not fit the budget.
inline constexpr int kJpegQualities[] = {85, 75, 65, 50};

// Picks the encoding: "auto" is PNG when it fits, else JPEG at falling quality;
// a forced format keeps its format. When nothing fits at one size, the image
// is made smaller (by the bytes it missed by) down to 1x1; without a budget
// the first encoding is taken.
std::variant<EncodedImage, std::string> fit_to_budget(ImageSize source, const FitRequest& request,
                                                      const FitEncoder& encode);

// The whole fitted image of a captured frame: resampled, encoded with libpng or
// libjpeg-turbo. An empty frame stands as one black pixel.
std::variant<EncodedImage, std::string> fit_screenshot(BgrxView frame, const FitRequest& request);

// "data:image/png;base64,..." or "data:image/jpeg;base64,...".
std::string image_data_url(const EncodedImage& image);
const char* format_name(ImageFormat format);

}  // namespace cua_actions::windows
