#pragma once
// Reads a PNG back the independent way for screenshot tests: the chunk list and
// IHDR fields straight from the bytes, each row's filter type from the inflated
// image data, and the pixels through libpng.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

struct PngReadBack {
    bool ok = false;                  // signature, chunks and pixels all read
    std::string error;                // why not
    std::vector<std::string> chunks;  // chunk types in order
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bit_depth = 0;
    int color_type = 0;
    int interlace = 0;
    std::vector<std::uint8_t> zlib_header;  // first two bytes of the image data
    std::vector<std::uint8_t> row_filters;  // filter type byte of each row
    std::vector<std::uint8_t> rgba;         // decoded by libpng
};

PngReadBack read_back_png(std::span<const std::uint8_t> png);

// The chunk list with runs of IDAT folded into one entry: "IHDR IDAT IEND".
std::string chunk_summary(const PngReadBack& read_back);

}  // namespace sim
