#pragma once
// Plain references to compare the screenshot encoder with, for tests and the
// benchmark: the whole reduced image, RGBA conversion, and zlib's level 1 as
// the strips' deflate.

#include <cstdint>
#include <memory>
#include <vector>

#include "common/result.h"
#include "cua_actions/windows/screenshot_encode.h"

namespace sim {

// The whole frame reduced by `factor` (f = 1 copies it), BGRX with the fourth
// byte 0.
std::vector<std::uint8_t> reduce_box_average(cua_actions::windows::BgrxView frame, int factor);

// BGRX -> RGBA with alpha 255.
std::vector<std::uint8_t> bgrx_to_rgba(cua_actions::windows::BgrxView frame);

// zlib's raw deflate at level 1, as a StripDeflater: a strip other than the
// last ends with a sync flush (an empty stored block on a byte boundary).
zelto::Result<std::size_t> zlib_deflate_strip(const std::uint8_t* rows, std::size_t size, bool last,
                                              std::unique_ptr<std::uint8_t[]>& out);

}  // namespace sim
