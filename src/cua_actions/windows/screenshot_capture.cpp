#include "cua_actions/windows/screenshot_capture.h"

#include <algorithm>

#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/screenshot_encode.h"
#include "cua_actions/windows/screenshot_fit.h"

namespace cua_actions::windows {
namespace {

constexpr char kBlackoutLine[] =
    "[CUA-screenshot-win] secure desktop blackout detected; refusing black frame screenshot";
constexpr Handle kNoWindow = 0;  // GetDC(NULL): the whole virtual screen
constexpr std::uint16_t kOnePlane = 1;
constexpr std::uint16_t kBitsPerPixel = 32;

// Each GDI object the capture takes, released by its destructor the way it was
// acquired. Declared in acquisition order, they release in reverse.
class ScreenDc {
  public:
    ScreenDc() : dc_(platform().get_dc(kNoWindow)) {}
    ~ScreenDc() {
        if (dc_ != 0) {
            platform().release_dc(kNoWindow, dc_);
        }
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    Handle get() const { return dc_; }

  private:
    Handle dc_;
};

class MemoryDc {
  public:
    explicit MemoryDc(Handle screen) : dc_(platform().create_compatible_dc(screen)) {}
    ~MemoryDc() {
        if (dc_ != 0) {
            platform().delete_dc(dc_);
        }
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    Handle get() const { return dc_; }

  private:
    Handle dc_;
};

class GdiBitmap {
  public:
    GdiBitmap(Handle screen, std::int32_t width, std::int32_t height)
        : bitmap_(platform().create_compatible_bitmap(screen, width, height)) {}
    ~GdiBitmap() {
        if (bitmap_ != 0) {
            platform().delete_object(bitmap_);
        }
    }
    GdiBitmap(const GdiBitmap&) = delete;
    GdiBitmap& operator=(const GdiBitmap&) = delete;
    Handle get() const { return bitmap_; }

  private:
    Handle bitmap_;
};

// SelectObject, undone by selecting the previous object back (a bitmap still
// selected into a context cannot be deleted).
class ScopedSelection {
  public:
    ScopedSelection(Handle dc, Handle object)
        : dc_(dc), previous_(platform().select_object(dc, object)) {}
    ~ScopedSelection() {
        if (previous_ != 0) {
            platform().select_object(dc_, previous_);
        }
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

  private:
    Handle dc_;
    Handle previous_;
};

BitmapInfoHeader top_down_bgrx_header(std::int32_t width, std::int32_t height,
                                      std::size_t byte_count) {
    BitmapInfoHeader header;
    header.size = kBitmapInfoHeaderSize;
    header.width = width;
    header.height = -height;  // negative: the first row is the top one
    header.planes = kOnePlane;
    header.bit_count = kBitsPerPixel;
    header.compression = kBiRgb;
    header.size_image = static_cast<std::uint32_t>(byte_count);
    return header;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> capture_display(const DisplayInfo& display) {
    Platform& os = platform();
    const std::int32_t width = std::max(0, display.width);
    const std::int32_t height = std::max(0, display.height);
    // The byte count must fit in 32 bits (it is also the header's image size).
    const std::size_t byte_count = static_cast<std::size_t>(width) * height * 4;

    const ScreenDc screen;
    if (screen.get() == 0) {
        return std::nullopt;
    }
    const MemoryDc memory(screen.get());
    const GdiBitmap bitmap(screen.get(), width, height);
    const ScopedSelection selection(memory.get(), bitmap.get());
    // Results ignored: a failed copy or read leaves the buffer black, and the
    // blackout test then refuses it.
    os.bit_blt(memory.get(), 0, 0, width, height, screen.get(), display.x, display.y, kSrcCopy);
    std::vector<std::uint8_t> pixels(byte_count);
    if (byte_count != 0) {
        BitmapInfoHeader header = top_down_bgrx_header(width, height, byte_count);
        os.get_di_bits(memory.get(), bitmap.get(), 0, static_cast<std::uint32_t>(height), pixels,
                       header, kDibRgbColors);
    }
    return pixels;
}

ActionResult secure_desktop_result() {
    return error_result(kSecureDesktopMessage, Json{{"code", kSecureDesktopCode}});
}

namespace {

ActionResult blackout_result() {
    platform().write_stderr_line(kBlackoutLine);
    return secure_desktop_result();
}

// The fitted variant's result: the image as the model should see it, with the
// source size to relate its pixels to the display. The frame is judged while
// it is resampled.
ActionResult fitted_result(const DisplayInfo& display, BgrxView frame, const FitRequest& request) {
    const auto fitted = fit_screenshot(frame, request);
    if (!fitted) {
        return error_result(fitted.error());
    }
    if (!fitted->has_value()) {
        return blackout_result();
    }
    const EncodedImage& image = **fitted;
    return ok_result(Json{
        {"image", image_data_url(image)},
        {"format", format_name(image.format)},
        {"width", image.size.width},
        {"height", image.size.height},
        {"sourceWidth", display.width},
        {"sourceHeight", display.height},
        {"display_id", format_display_id(display)},
    });
}

}  // namespace

ActionResult handle_screenshot(const Json& params) {
    // Bad limits fail before anything is captured.
    const auto fit = read_fit_request(params);
    if (fit && !*fit) {
        return error_result(fit->error());
    }
    const DisplayInfo display = selected_display(params);
    const std::optional<std::vector<std::uint8_t>> frame = capture_display(display);
    if (!frame) {
        return error_result("GetDC failed");
    }
    const BgrxView view{frame->data(), std::max(0, display.width), std::max(0, display.height)};
    if (fit) {
        return fitted_result(display, view, **fit);
    }
    // An empty rectangle has no pixels to judge; it is encoded as one black pixel.
    if (!frame->empty() && is_blackout(count_dark_samples(view))) {
        return blackout_result();
    }

    const int factor = scale_factor(view.width, view.height);
    const ImageSize size = output_size(view.width, view.height, factor);
    VectorPngSink png;
    const zelto::Status encoded = encode_png(view, factor, png);
    if (!encoded) {
        return error_result(encoded.error());
    }
    return ok_result(Json{
        {"image", png_data_url(png.bytes)},
        {"width", size.width},
        {"height", size.height},
        {"sourceWidth", display.width},
        {"sourceHeight", display.height},
        {"scaleFactor", factor},
        {"display_id", format_display_id(display)},
    });
}

}  // namespace cua_actions::windows
