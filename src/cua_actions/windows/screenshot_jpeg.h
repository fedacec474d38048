#pragma once
// Baseline JPEG of a BGRX image through libjpeg-turbo.

#include <cstdint>
#include <vector>

#include "common/result.h"
#include "cua_actions/windows/screenshot_encode.h"

namespace cua_actions::windows {

// Rows handed to libjpeg per call: a row source keeps this many readable.
inline constexpr std::int32_t kJpegRowsPerGroup = 16;

// The image's rows, asked for once each, top to bottom; a row stays readable
// until kJpegRowsPerGroup more were asked for.
class JpegRowSource {
  public:
    virtual ~JpegRowSource() = default;
    virtual const std::uint8_t* row(std::int32_t y) = 0;
};

// The JPEG bytes of an image of `size` whose BGRX rows come from `rows`.
[[nodiscard]] zelto::Result<std::vector<std::uint8_t>> encode_jpeg(ImageSize size,
                                                                   JpegRowSource& rows,
                                                                   int quality);

// The JPEG bytes of the image at `quality` (1..100, standard tables, 4:2:0
// chroma), or libjpeg's description of what failed.
[[nodiscard]] zelto::Result<std::vector<std::uint8_t>> encode_jpeg(BgrxView image, int quality);

}  // namespace cua_actions::windows
