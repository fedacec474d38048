#pragma once
// The exact area average in double precision, written the slow and obvious way
// (every image pixel walks its source rectangle), to check the resampler and to
// measure image quality against.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace sim {

// BGRX source (width * height * 4 bytes) to image_width * image_height * 3
// values (blue, green, red), unrounded.
inline std::vector<double> area_average_reference(const std::uint8_t* bgrx, int width, int height,
                                                  int image_width, int image_height) {
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(image_width) * image_height * 3);
    const double sx = static_cast<double>(width) / image_width;
    const double sy = static_cast<double>(height) / image_height;
    for (int y = 0; y < image_height; ++y) {
        const double top = y * sy;
        const double bottom = (y + 1) * sy;
        for (int x = 0; x < image_width; ++x) {
            const double left = x * sx;
            const double right = (x + 1) * sx;
            double sum[3] = {0, 0, 0};
            for (int j = static_cast<int>(std::floor(top)); j < std::ceil(bottom); ++j) {
                const double h = std::min(bottom, j + 1.0) - std::max(top, double(j));
                for (int i = static_cast<int>(std::floor(left)); i < std::ceil(right); ++i) {
                    const double w = (std::min(right, i + 1.0) - std::max(left, double(i))) * h;
                    const std::uint8_t* p = bgrx + (static_cast<std::size_t>(j) * width + i) * 4;
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += w * p[c];
                    }
                }
            }
            for (int c = 0; c < 3; ++c) {
                out.push_back(sum[c] / (sx * sy));
            }
        }
    }
    return out;
}

}  // namespace sim
