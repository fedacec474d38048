// Screen capture operations of the Win32 platform: direct GDI calls.
#include <windows.h>

#include "cua_actions/windows/win32/win32_handles.h"
#include "cua_actions/windows/win32/win32_platform.h"

namespace cua_actions::windows {
Handle Win32Platform::get_dc(Handle window) {
    return from_pointer(::GetDC(to_native<HWND>(window)));
}

bool Win32Platform::release_dc(Handle window, Handle dc) {
    return ::ReleaseDC(to_native<HWND>(window), to_native<HDC>(dc)) == 1;
}

Handle Win32Platform::create_compatible_dc(Handle dc) {
    return from_pointer(::CreateCompatibleDC(to_native<HDC>(dc)));
}

Handle Win32Platform::create_compatible_bitmap(Handle dc, std::int32_t width, std::int32_t height) {
    return from_pointer(::CreateCompatibleBitmap(to_native<HDC>(dc), width, height));
}

Handle Win32Platform::select_object(Handle dc, Handle object) {
    HGDIOBJ previous = ::SelectObject(to_native<HDC>(dc), to_native<HGDIOBJ>(object));
    // HGDI_ERROR only comes back for regions; treat it as a failure like NULL.
    return previous == HGDI_ERROR ? 0 : from_pointer(previous);
}

bool Win32Platform::bit_blt(Handle dest, std::int32_t x, std::int32_t y, std::int32_t width,
                            std::int32_t height, Handle source, std::int32_t source_x,
                            std::int32_t source_y, std::uint32_t rop) {
    return ::BitBlt(to_native<HDC>(dest), x, y, width, height, to_native<HDC>(source), source_x,
                    source_y, rop) != FALSE;
}

int Win32Platform::get_di_bits(Handle dc, Handle bitmap, std::uint32_t start, std::uint32_t lines,
                               std::span<std::uint8_t> bits, BitmapInfoHeader& info,
                               std::uint32_t usage) {
    // BITMAPINFO carries one colour-table entry after the header; BI_RGB at 32
    // bits per pixel writes none.
    BITMAPINFO description{};
    BITMAPINFOHEADER& header = description.bmiHeader;
    header.biSize = info.size;
    header.biWidth = info.width;
    header.biHeight = info.height;
    header.biPlanes = info.planes;
    header.biBitCount = info.bit_count;
    header.biCompression = info.compression;
    header.biSizeImage = info.size_image;
    header.biXPelsPerMeter = info.x_pels_per_meter;
    header.biYPelsPerMeter = info.y_pels_per_meter;
    header.biClrUsed = info.clr_used;
    header.biClrImportant = info.clr_important;
    const int copied = ::GetDIBits(to_native<HDC>(dc), to_native<HBITMAP>(bitmap), start, lines,
                                   bits.data(), &description, usage);
    info = BitmapInfoHeader{header.biSize,      header.biWidth,         header.biHeight,
                            header.biPlanes,    header.biBitCount,      header.biCompression,
                            header.biSizeImage, header.biXPelsPerMeter, header.biYPelsPerMeter,
                            header.biClrUsed,   header.biClrImportant};
    return copied;
}

bool Win32Platform::delete_object(Handle object) {
    return ::DeleteObject(to_native<HGDIOBJ>(object)) != FALSE;
}

bool Win32Platform::delete_dc(Handle dc) {
    return ::DeleteDC(to_native<HDC>(dc)) != FALSE;
}

}  // namespace cua_actions::windows
