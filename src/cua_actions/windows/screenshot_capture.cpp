#include "cua_actions/windows/screenshot_capture.h"

#include <algorithm>
#include <cmath>

#include "common/result.h"
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

// A part of the display in display pixels: [left, top) to [right, bottom).
struct Region {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// "region" [x0, y0, x1, y1]: fractions of the display when every value is at
// most 1, else display pixels; clamped to the display, and not empty.
std::optional<zelto::Result<Region>> read_region(const Json& params, const DisplayInfo& display) {
    const Json* value = find_param(params, "region");
    if (value == nullptr) {
        return std::nullopt;
    }
    const auto invalid = []() -> zelto::Result<Region> {
        return zelto::fail(
            "region must be [x0, y0, x1, y1] with x0 < x1 and y0 < y1 on the display");
    };
    if (!value->is_array() || value->size() != 4) {
        return invalid();
    }
    double v[4];
    bool fractions = true;
    for (std::size_t i = 0; i < 4; ++i) {
        if (!(*value)[i].is_number()) {
            return invalid();
        }
        v[i] = (*value)[i].get<double>();
        fractions = fractions && v[i] <= 1.0;
    }
    const auto edge = [&](double x, std::int32_t size, bool far) {
        const double pixels = fractions ? x * size : x;
        const double rounded = far ? std::ceil(pixels) : std::floor(pixels);
        return static_cast<std::int32_t>(std::clamp(rounded, 0.0, static_cast<double>(size)));
    };
    const Region region{edge(v[0], display.width, false), edge(v[1], display.height, false),
                        edge(v[2], display.width, true), edge(v[3], display.height, true)};
    if (region.left >= region.right || region.top >= region.bottom) {
        return invalid();
    }
    return zelto::Result<Region>(region);
}

// The region's rows out of the display's frame.
std::vector<std::uint8_t> crop(BgrxView frame, const Region& region) {
    const std::size_t width = static_cast<std::size_t>(region.right - region.left);
    std::vector<std::uint8_t> pixels;
    pixels.reserve(width * static_cast<std::size_t>(region.bottom - region.top) * 4);
    for (std::int32_t row = region.top; row < region.bottom; ++row) {
        const std::uint8_t* start =
            frame.pixels + (static_cast<std::size_t>(row) * frame.width + region.left) * 4;
        pixels.insert(pixels.end(), start, start + width * 4);
    }
    return pixels;
}

// The fitted variant's result: the image as the model should see it, with the
// source size to relate its pixels to the display. The frame is judged while
// it is resampled.
ActionResult fitted_result(const DisplayInfo& display, BgrxView frame, const FitRequest& request,
                           const ResampleOptions& options = {}) {
    const auto fitted = fit_screenshot(frame, request, options);
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
    const auto region = read_region(params, display);
    if (region && !*region) {
        return error_result(region->error());
    }
    const std::optional<std::vector<std::uint8_t>> frame = capture_display(display);
    if (!frame) {
        return error_result("GetDC failed");
    }
    const BgrxView view{frame->data(), std::max(0, display.width), std::max(0, display.height)};
    if (fit && !region) {
        return fitted_result(display, view, **fit);
    }
    // An empty rectangle has no pixels to judge; it is encoded as one black pixel.
    if (!frame->empty() && is_blackout(count_dark_samples(view))) {
        return blackout_result();
    }

    if (region) {
        // The blackout test judged the whole display; the region alone may well be dark.
        const std::vector<std::uint8_t> part = crop(view, **region);
        const BgrxView part_view{part.data(), (*region)->right - (*region)->left,
                                 (*region)->bottom - (*region)->top};
        ResampleOptions options;
        options.judge_blackout = false;
        ActionResult result =
            fitted_result(display, part_view, fit ? **fit : FitRequest{}, options);
        if (result["ok"] == true) {
            result["data"]["sourceWidth"] = part_view.width;
            result["data"]["sourceHeight"] = part_view.height;
            result["data"]["region"] = {(*region)->left, (*region)->top, (*region)->right,
                                        (*region)->bottom};
        }
        return result;
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
