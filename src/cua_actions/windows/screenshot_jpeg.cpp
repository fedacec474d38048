#include "cua_actions/windows/screenshot_jpeg.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <jpeglib.h>
// After jpeglib.h, which it builds on.
#include <jerror.h>

namespace cua_actions::windows {
namespace {

constexpr int kBytesPerPixel = 4;
// The rows of a whole image in memory.
class ImageRows final : public JpegRowSource {
  public:
    explicit ImageRows(BgrxView image) : image_(image) {}
    const std::uint8_t* row(std::int32_t y) override {
        return image_.pixels + static_cast<std::size_t>(image_.width) * kBytesPerPixel * y;
    }

  private:
    BgrxView image_;
};

// libjpeg reports a failure by calling error_exit, which must not return: it
// jumps back into compress_image with the message kept here.
struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void on_jpeg_error(j_common_ptr info) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

// Warnings and trace messages would go to standard error, which carries only
// tagged diagnostic lines.
void on_jpeg_message(j_common_ptr, int) {}

// The output grows in a malloc'd block that the caller frees on every path:
// its pointer is always current, even after a failure mid-image.
struct GrowingBuffer {
    jpeg_destination_mgr manager;
    unsigned char* data;
    std::size_t capacity;
    std::size_t size;
};

void on_init_destination(j_compress_ptr info) {
    GrowingBuffer* buffer = reinterpret_cast<GrowingBuffer*>(info->dest);
    buffer->data = static_cast<unsigned char*>(std::malloc(buffer->capacity));
    if (buffer->data == nullptr) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    }
    buffer->manager.next_output_byte = buffer->data;
    buffer->manager.free_in_buffer = buffer->capacity;
}

// Called with the whole block full: double it.
boolean on_empty_output_buffer(j_compress_ptr info) {
    GrowingBuffer* buffer = reinterpret_cast<GrowingBuffer*>(info->dest);
    void* grown = std::realloc(buffer->data, buffer->capacity * 2);
    if (grown == nullptr) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    }
    buffer->data = static_cast<unsigned char*>(grown);
    buffer->manager.next_output_byte = buffer->data + buffer->capacity;
    buffer->manager.free_in_buffer = buffer->capacity;
    buffer->capacity *= 2;
    return TRUE;
}

void on_term_destination(j_compress_ptr info) {
    GrowingBuffer* buffer = reinterpret_cast<GrowingBuffer*>(info->dest);
    buffer->size = buffer->capacity - buffer->manager.free_in_buffer;
}

// The only function holding setjmp. Everything it touches is plain C data owned
// by the caller, so the longjmp from on_jpeg_error skips no destructor (the row
// source runs between libjpeg's calls, never under one).
bool compress_image(jpeg_compress_struct* info, ErrorTrap* trap, GrowingBuffer* buffer,
                    ImageSize image, JpegRowSource& source, int quality) {
    if (setjmp(trap->jump) != 0) {
        return false;
    }
    jpeg_create_compress(info);
    info->dest = &buffer->manager;
    info->image_width = static_cast<JDIMENSION>(image.width);
    info->image_height = static_cast<JDIMENSION>(image.height);
    info->input_components = kBytesPerPixel;
    info->in_color_space = JCS_EXT_BGRX;  // the capture's own layout: no conversion pass
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    jpeg_start_compress(info, TRUE);
    JSAMPROW rows[kJpegRowsPerGroup];
    while (info->next_scanline < info->image_height) {
        const JDIMENSION first = info->next_scanline;
        JDIMENSION count = 0;
        for (; count < kJpegRowsPerGroup && first + count < info->image_height; ++count) {
            // libjpeg only reads the rows; its interface is not const.
            rows[count] =
                const_cast<JSAMPROW>(source.row(static_cast<std::int32_t>(first + count)));
        }
        jpeg_write_scanlines(info, rows, count);
    }
    jpeg_finish_compress(info);
    return true;
}

struct FreeDeleter {
    void operator()(unsigned char* data) const { std::free(data); }
};

}  // namespace

zelto::Result<std::vector<std::uint8_t>> encode_jpeg(BgrxView image, int quality) {
    if (image.width <= 0 || image.height <= 0 || image.pixels == nullptr) {
        return zelto::fail("empty image");
    }
    ImageRows rows(image);
    return encode_jpeg(ImageSize{image.width, image.height}, rows, quality);
}

zelto::Result<std::vector<std::uint8_t>> encode_jpeg(ImageSize image, JpegRowSource& rows,
                                                     int quality) {
    if (image.width <= 0 || image.height <= 0) {
        return zelto::fail("empty image");
    }
    jpeg_compress_struct info{};
    ErrorTrap trap{};
    info.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = on_jpeg_error;
    trap.manager.emit_message = on_jpeg_message;

    GrowingBuffer buffer{};
    buffer.manager.init_destination = on_init_destination;
    buffer.manager.empty_output_buffer = on_empty_output_buffer;
    buffer.manager.term_destination = on_term_destination;
    // A first guess of a screenshot's size at the usual qualities; grows when short.
    buffer.capacity = 4096 + static_cast<std::size_t>(image.width) * image.height / 4;

    const bool done = compress_image(&info, &trap, &buffer, image, rows, quality);
    jpeg_destroy_compress(&info);
    const std::unique_ptr<unsigned char, FreeDeleter> owned(buffer.data);
    if (!done) {
        return zelto::fail(trap.message);
    }
    return std::vector<std::uint8_t>(buffer.data, buffer.data + buffer.size);
}

}  // namespace cua_actions::windows
