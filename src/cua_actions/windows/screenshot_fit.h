#pragma once
// The screenshot fitted for a model: the request's limits (longer side, byte
// budget, format), the area-averaging resampler, and the loop that picks the
// format, JPEG quality and image size that fit the budget. Pure functions; the
// encoders are handed in.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
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
std::optional<zelto::Result<FitRequest>> read_fit_request(const Json& params);

// The image size for a source and a longer-side limit: the source size when it
// fits (never enlarged), else the longer side becomes the limit and the shorter
// max(1, round(shorter * limit / longer)).
ImageSize fitted_size(ImageSize source, std::optional<std::int32_t> max_size);

// Exact area average: image pixel x covers source columns [x*sw/iw, (x+1)*sw/iw)
// (likewise rows), each source pixel weighted by its overlap. Image sizes at
// most the source size, at least 1x1. BGRX in, BGRX out (fourth byte 0).
std::vector<std::uint8_t> resample_area_average(BgrxView source, ImageSize size);

// How the resampler may run. The image is the same byte for byte either way.
struct ResampleOptions {
    // AVX2 where the processor has it (SSE2 otherwise).
    bool allow_avx2 = true;
    // Threads for frames over 8 megapixels: 0 picks one per core (at most
    // four), 1 keeps to the calling thread.
    unsigned threads = 0;
    // Off for a part of a display already judged whole: a dark part is no secure desktop.
    bool judge_blackout = true;
};

// A resampled image: BGRX rows, no padding.
class ResampledImage {
  public:
    ResampledImage() = default;
    explicit ResampledImage(ImageSize size)
        : size_(size), pixels_(new std::uint8_t[byte_count()]) {}
    ImageSize size() const { return size_; }
    std::size_t byte_count() const {
        return static_cast<std::size_t>(size_.width) * size_.height * 4;
    }
    std::uint8_t* data() { return pixels_.get(); }
    BgrxView view() const { return BgrxView{pixels_.get(), size_.width, size_.height}; }
    bool empty() const { return !pixels_; }

  private:
    ImageSize size_;
    std::unique_ptr<std::uint8_t[]> pixels_;
};

// resample_area_average that also runs the blackout test on the way: every
// source row is judged once, right after it was read for the image, so the
// frame is read only once. `dark` gets the test's count (as
// count_dark_samples gives it).
ResampledImage resample_judging(BgrxView source, ImageSize size, BlackoutCount& dark,
                                const ResampleOptions& options = {});

struct EncodedImage {
    ImageFormat format = ImageFormat::png;
    ImageSize size;
    int quality = 0;  // JPEG only
    std::vector<std::uint8_t> bytes;
};

// Encodes the source resampled to `size` in `format` (quality for JPEG), or
// returns the encoder's failure message.
using FitEncoder =
    std::function<zelto::Result<EncodedImage>(ImageSize size, ImageFormat format, int quality)>;

// JPEG qualities tried while the image does not fit the budget, best first.
inline constexpr int kJpegQualities[] = {85, 75, 65, 50};

// Picks the encoding: "auto" is PNG when it fits, else JPEG at falling quality;
// a forced format keeps its format. When nothing fits at one size, the image
// is made smaller (by the bytes it missed by) down to 1x1; without a budget
// the first encoding is taken. Once a JPEG was measured, the bytes of the
// others are estimated from it, and qualities estimated to miss are skipped.
zelto::Result<EncodedImage> fit_to_budget(ImageSize source, const FitRequest& request,
                                          const FitEncoder& encode);

// The whole fitted image of a captured frame: resampled (judging the frame on
// the way), encoded as PNG by encode_png (our own deflate; libpng only frames the chunks) or as
// JPEG by libjpeg-turbo. Nothing when the frame is the secure desktop's black one: that is known
// before any encoding. An empty frame is not judged and stands as one black pixel.
zelto::Result<std::optional<EncodedImage>> fit_screenshot(BgrxView frame, const FitRequest& request,
                                                          const ResampleOptions& options = {});

// "data:image/png;base64,..." or "data:image/jpeg;base64,...".
std::string image_data_url(const EncodedImage& image);
const char* format_name(ImageFormat format);

}  // namespace cua_actions::windows
