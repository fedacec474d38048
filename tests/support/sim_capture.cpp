// Screen capture on the simulated desktop: a handle table of device contexts and
// bitmaps with the rules of GDI that the capture's release order depends on.
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "support/sim_desktop.h"

namespace sim {

using cua_actions::windows::BitmapInfoHeader;
using Kind = SimGdiObject::Kind;

namespace {

constexpr std::size_t kPixelBytes = 4;

std::string call_text(const char* name, std::initializer_list<long long> arguments) {
    std::string text = std::string(name) + "(";
    bool first = true;
    for (long long argument : arguments) {
        text += first ? "" : ",";
        text += std::to_string(argument);
        first = false;
    }
    return text + ")";
}

SimGdiObject* find(std::map<Handle, SimGdiObject>& objects, Handle handle, Kind kind) {
    const auto found = objects.find(handle);
    return found != objects.end() && found->second.kind == kind ? &found->second : nullptr;
}

// The screen's pixel at a virtual-screen point, black outside the frame.
const std::uint8_t* frame_pixel(const SimFrame& frame, std::int32_t x, std::int32_t y) {
    static const std::uint8_t kBlack[kPixelBytes] = {};
    const std::int64_t column = std::int64_t{x} - frame.left;
    const std::int64_t row = std::int64_t{y} - frame.top;
    if (column < 0 || row < 0 || column >= frame.width || row >= frame.height) {
        return kBlack;
    }
    return frame.bgrx.data() + (static_cast<std::size_t>(row) * frame.width + column) * kPixelBytes;
}

}  // namespace

Handle SimDesktop::get_dc(Handle window) {
    auto guard = lock();
    gdi_calls.push_back(call_text("GetDC", {static_cast<long long>(window)}));
    if (capture_fail.get_dc || window != 0) {
        return 0;
    }
    const Handle handle = next_gdi_handle++;
    gdi_objects[handle] = SimGdiObject{Kind::screen_dc};
    return handle;
}

bool SimDesktop::release_dc(Handle window, Handle dc) {
    auto guard = lock();
    gdi_calls.push_back(call_text("ReleaseDC", {static_cast<long long>(window)}));
    if (window != 0 || find(gdi_objects, dc, Kind::screen_dc) == nullptr) {
        return false;
    }
    gdi_objects.erase(dc);
    return true;
}

Handle SimDesktop::create_compatible_dc(Handle dc) {
    auto guard = lock();
    gdi_calls.emplace_back("CreateCompatibleDC");
    if (capture_fail.create_compatible_dc || find(gdi_objects, dc, Kind::screen_dc) == nullptr) {
        return 0;
    }
    const Handle handle = next_gdi_handle++;
    gdi_objects[handle] = SimGdiObject{Kind::memory_dc, kSimStockBitmap};
    return handle;
}

Handle SimDesktop::create_compatible_bitmap(Handle dc, std::int32_t width, std::int32_t height) {
    auto guard = lock();
    gdi_calls.push_back(call_text("CreateCompatibleBitmap", {width, height}));
    if (capture_fail.create_compatible_bitmap ||
        find(gdi_objects, dc, Kind::screen_dc) == nullptr || width < 0 || height < 0) {
        return 0;
    }
    const Handle handle = next_gdi_handle++;
    SimGdiObject bitmap{Kind::bitmap, 0, width, height};
    bitmap.bgrx.assign(static_cast<std::size_t>(width) * height * kPixelBytes, 0);
    gdi_objects[handle] = std::move(bitmap);
    return handle;
}

Handle SimDesktop::select_object(Handle dc, Handle object) {
    auto guard = lock();
    const bool is_bitmap = find(gdi_objects, object, Kind::bitmap) != nullptr;
    gdi_calls.push_back(object == kSimStockBitmap ? "SelectObject(stock)"
                        : is_bitmap               ? "SelectObject(bitmap)"
                                                  : "SelectObject(?)");
    SimGdiObject* memory = find(gdi_objects, dc, Kind::memory_dc);
    if (capture_fail.select_object || memory == nullptr) {
        return 0;
    }
    if (object != kSimStockBitmap) {
        if (!is_bitmap) {
            return 0;
        }
        // A bitmap can be selected into one memory context at a time.
        for (const auto& [handle, other] : gdi_objects) {
            if (handle != dc && other.kind == Kind::memory_dc && other.selected == object) {
                return 0;
            }
        }
    }
    return std::exchange(memory->selected, object);
}

bool SimDesktop::bit_blt(Handle dest, std::int32_t x, std::int32_t y, std::int32_t width,
                         std::int32_t height, Handle source, std::int32_t source_x,
                         std::int32_t source_y, std::uint32_t rop) {
    auto guard = lock();
    gdi_calls.push_back(call_text(
        "BitBlt", {x, y, width, height, source_x, source_y, static_cast<long long>(rop)}));
    SimGdiObject* memory = find(gdi_objects, dest, Kind::memory_dc);
    if (capture_fail.bit_blt || memory == nullptr ||
        find(gdi_objects, source, Kind::screen_dc) == nullptr ||
        rop != cua_actions::windows::kSrcCopy) {
        return false;
    }
    SimGdiObject* bitmap = find(gdi_objects, memory->selected, Kind::bitmap);
    if (bitmap == nullptr) {
        return false;  // only the stock 1x1 bitmap: nothing useful to draw on
    }
    for (std::int32_t row = 0; row < height; ++row) {
        for (std::int32_t column = 0; column < width; ++column) {
            const std::int64_t tx = std::int64_t{x} + column;
            const std::int64_t ty = std::int64_t{y} + row;
            if (tx < 0 || ty < 0 || tx >= bitmap->width || ty >= bitmap->height) {
                continue;
            }
            const std::uint8_t* pixel =
                frame_pixel(screen_frame, source_x + column, source_y + row);
            std::copy_n(pixel, kPixelBytes,
                        bitmap->bgrx.data() + (ty * bitmap->width + tx) * kPixelBytes);
        }
    }
    return true;
}

int SimDesktop::get_di_bits(Handle dc, Handle bitmap_handle, std::uint32_t start,
                            std::uint32_t lines, std::span<std::uint8_t> bits,
                            BitmapInfoHeader& info, std::uint32_t usage) {
    auto guard = lock();
    gdi_calls.push_back(call_text(
        "GetDIBits", {start, lines, info.width, info.height, static_cast<long long>(usage)}));
    const SimGdiObject* bitmap = find(gdi_objects, bitmap_handle, Kind::bitmap);
    const bool known_dc = find(gdi_objects, dc, Kind::memory_dc) != nullptr ||
                          find(gdi_objects, dc, Kind::screen_dc) != nullptr;
    // Only the one format the capture asks for is served: 32-bit BI_RGB, same size.
    const BitmapInfoHeader wanted{
        cua_actions::windows::kBitmapInfoHeaderSize,
        bitmap != nullptr ? bitmap->width : 0,
        info.height,
        1,
        32,
        cua_actions::windows::kBiRgb,
        bitmap != nullptr ? static_cast<std::uint32_t>(bitmap->bgrx.size()) : 0};
    if (capture_fail.get_di_bits || bitmap == nullptr || !known_dc || info != wanted ||
        usage != cua_actions::windows::kDibRgbColors ||
        static_cast<std::int64_t>(std::llabs(info.height)) != bitmap->height ||
        std::uint64_t{start} + lines > static_cast<std::uint64_t>(bitmap->height)) {
        return 0;
    }
    const std::size_t row_bytes = static_cast<std::size_t>(bitmap->width) * kPixelBytes;
    if (bits.size() < row_bytes * lines) {
        return 0;
    }
    // Positive height: bottom-up rows, the buffer's first line is the bitmap's last.
    const bool top_down = info.height < 0;
    for (std::uint32_t line = 0; line < lines; ++line) {
        const std::uint32_t scan = start + line;  // scan lines count from the bottom when bottom-up
        const std::size_t source_row = top_down ? scan : bitmap->height - 1 - scan;
        std::copy_n(bitmap->bgrx.data() + source_row * row_bytes, row_bytes,
                    bits.data() + line * row_bytes);
    }
    return static_cast<int>(lines);
}

bool SimDesktop::delete_object(Handle object) {
    auto guard = lock();
    gdi_calls.emplace_back("DeleteObject");
    if (find(gdi_objects, object, Kind::bitmap) == nullptr) {
        return false;
    }
    // A bitmap still selected into a context cannot be deleted: it leaks.
    for (const auto& [handle, other] : gdi_objects) {
        if (other.kind == Kind::memory_dc && other.selected == object) {
            return false;
        }
    }
    gdi_objects.erase(object);
    return true;
}

bool SimDesktop::delete_dc(Handle dc) {
    auto guard = lock();
    gdi_calls.emplace_back("DeleteDC");
    if (find(gdi_objects, dc, Kind::memory_dc) == nullptr) {
        return false;
    }
    gdi_objects.erase(dc);
    return true;
}

}  // namespace sim
