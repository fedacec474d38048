#pragma once
// Baseline JPEG of a BGRX image through libjpeg-turbo.

#include <cstdint>
#include <vector>

#include "common/result.h"
#include "cua_actions/windows/screenshot_encode.h"

namespace cua_actions::windows {

// The JPEG bytes of the image at `quality` (1..100, standard tables, 4:2:0
// chroma), or libjpeg's description of what failed.
[[nodiscard]] zelto::Result<std::vector<std::uint8_t>> encode_jpeg(BgrxView image, int quality);

}  // namespace cua_actions::windows
