#include "support/screenshot_reference.h"

#include <zlib.h>

#include <algorithm>
#include <span>
#include <string>

namespace sim {
namespace {

using cua_actions::windows::BgrxView;
using cua_actions::windows::ImageSize;

constexpr std::size_t kBytesPerPixel = 4;
// The encoder's fast setting.
constexpr int kDeflateLevel = 1;
// Raw deflate (no zlib wrapper): the strips get one shared header and checksum.
constexpr int kRawDeflateWindowBits = -15;
constexpr int kDeflateMemLevel = 8;

std::string zlib_message(const z_stream& stream, int code) {
    return std::string("zlib: ") + (stream.msg != nullptr ? stream.msg : zError(code));
}

}  // namespace

std::vector<std::uint8_t> reduce_box_average(BgrxView frame, int factor) {
    const ImageSize size = cua_actions::windows::output_size(frame.width, frame.height, factor);
    const std::size_t row_bytes = static_cast<std::size_t>(size.width) * kBytesPerPixel;
    if (factor == 1) {
        return std::vector<std::uint8_t>(frame.pixels, frame.pixels + row_bytes * size.height);
    }
    std::vector<std::uint8_t> reduced(row_bytes * size.height);
    for (std::int32_t r = 0; r < size.height; ++r) {
        cua_actions::windows::reduce_row(frame, factor, r,
                                         std::span(reduced).subspan(row_bytes * r, row_bytes));
    }
    return reduced;
}

std::vector<std::uint8_t> bgrx_to_rgba(BgrxView frame) {
    const std::size_t pixels = static_cast<std::size_t>(std::max(0, frame.width)) *
                               static_cast<std::size_t>(std::max(0, frame.height));
    std::vector<std::uint8_t> rgba(pixels * kBytesPerPixel);
    const std::uint8_t* bgrx = frame.pixels;
    for (std::size_t i = 0; i < pixels; ++i, bgrx += kBytesPerPixel) {
        rgba[i * 4 + 0] = bgrx[2];
        rgba[i * 4 + 1] = bgrx[1];
        rgba[i * 4 + 2] = bgrx[0];
        rgba[i * 4 + 3] = 0xFF;
    }
    return rgba;
}

zelto::Result<std::size_t> zlib_deflate_strip(const std::uint8_t* rows, std::size_t size, bool last,
                                              std::unique_ptr<std::uint8_t[]>& out) {
    z_stream stream{};
    int code = deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, kRawDeflateWindowBits,
                            kDeflateMemLevel, Z_DEFAULT_STRATEGY);
    if (code != Z_OK) {
        return zelto::fail(zlib_message(stream, code));
    }
    // deflateEnd on every path from here.
    struct StreamGuard {
        z_stream& stream;
        ~StreamGuard() { deflateEnd(&stream); }
    } guard{stream};

    // The bound covers the finishing block; a sync flush adds at most 5 bytes.
    const std::size_t capacity = deflateBound(&stream, static_cast<uLong>(size)) + 16;
    out.reset(new std::uint8_t[capacity]);
    stream.next_in = const_cast<std::uint8_t*>(rows);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.get();
    stream.avail_out = static_cast<uInt>(capacity);
    code = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool finished = last ? code == Z_STREAM_END : code == Z_OK;
    if (!finished || stream.avail_in != 0) {
        return zelto::fail(code == Z_OK || code == Z_STREAM_END
                               ? std::string("zlib: output buffer too small")
                               : zlib_message(stream, code));
    }
    return capacity - stream.avail_out;
}

}  // namespace sim
