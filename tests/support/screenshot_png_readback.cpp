#include "support/screenshot_png_readback.h"

#include <png.h>
#include <zlib.h>

#include <cstring>

namespace sim {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t read_u32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

bool inflate_all(const std::vector<std::uint8_t>& in, std::size_t expected,
                 std::vector<std::uint8_t>& out) {
    out.assign(expected, 0);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    stream.next_in = const_cast<std::uint8_t*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int code = inflate(&stream, Z_FINISH);
    const bool complete = code == Z_STREAM_END && stream.avail_out == 0 && stream.avail_in == 0;
    inflateEnd(&stream);
    return complete;
}

}  // namespace

PngReadBack read_back_png(std::span<const std::uint8_t> png) {
    PngReadBack result;
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) {
        result.error = "no PNG signature";
        return result;
    }
    std::vector<std::uint8_t> image_data;
    for (std::size_t at = 8; at < png.size();) {
        if (png.size() - at < 12) {
            result.error = "truncated chunk";
            return result;
        }
        const std::uint32_t length = read_u32(png.data() + at);
        if (png.size() - at - 12 < length) {
            result.error = "chunk runs past the end";
            return result;
        }
        const std::string type(reinterpret_cast<const char*>(png.data() + at + 4), 4);
        const std::uint8_t* data = png.data() + at + 8;
        result.chunks.push_back(type);
        if (type == "IHDR" && length == 13) {
            result.width = read_u32(data);
            result.height = read_u32(data + 4);
            result.bit_depth = data[8];
            result.color_type = data[9];
            result.interlace = data[12];
        } else if (type == "IDAT") {
            image_data.insert(image_data.end(), data, data + length);
        }
        at += 12 + length;
    }
    if (image_data.size() >= 2) {
        result.zlib_header.assign(image_data.begin(), image_data.begin() + 2);
    }
    if (result.bit_depth == 8 && result.color_type == 6 && result.interlace == 0) {
        const std::size_t row_bytes = 1 + std::size_t{result.width} * 4;
        std::vector<std::uint8_t> raw;
        if (!inflate_all(image_data, row_bytes * result.height, raw)) {
            result.error = "image data does not inflate to exactly the rows";
            return result;
        }
        for (std::uint32_t row = 0; row < result.height; ++row) {
            result.row_filters.push_back(raw[row * row_bytes]);
        }
    }

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) {
        result.error = std::string("libpng: ") + image.message;
        return result;
    }
    image.format = PNG_FORMAT_RGBA;
    result.rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, result.rgba.data(), 0, nullptr)) {
        result.error = std::string("libpng: ") + image.message;
        png_image_free(&image);
        return result;
    }
    result.ok = true;
    return result;
}

std::string chunk_summary(const PngReadBack& read_back) {
    std::string summary;
    for (const std::string& chunk : read_back.chunks) {
        if (chunk == "IDAT" && summary.ends_with("IDAT")) {
            continue;
        }
        summary += (summary.empty() ? "" : " ") + chunk;
    }
    return summary;
}

}  // namespace sim
