// The capture contract against the real GDI, and a leak check over many
// captures through the action's own capture code.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "../screenshot_contract.h"
#include "cua_actions/windows/screenshot_capture.h"
#include "cua_actions/windows/win32/win32_platform.h"

namespace screenshot_contract {
namespace {

struct Win32Side {
    Platform& os() { return win32_platform(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, CaptureContract, Win32Side);

class Win32Capture : public ::testing::Test {
  protected:
    void SetUp() override { set_platform(&win32_platform()); }
    void TearDown() override { set_platform(nullptr); }
};

// How many more GDI objects this process can create: the room left in its GDI
// table (Windows' per-process quota, Wine's handle table). Wine reports 0 from
// GetGuiResources, so a leak shows here instead, as room that does not come back.
int gdi_room_left() {
    std::vector<HRGN> regions;
    regions.reserve(70000);
    for (;;) {
        HRGN region = ::CreateRectRgn(0, 0, 1, 1);
        if (region == nullptr || regions.size() >= 1000000) {
            if (region != nullptr) {
                ::DeleteObject(region);
            }
            break;
        }
        regions.push_back(region);
    }
    for (HRGN region : regions) {
        ::DeleteObject(region);
    }
    return static_cast<int>(regions.size());
}

TEST_F(Win32Capture, ThousandCapturesKeepTheGdiObjectCount) {
    const DisplayInfo rect{0, 0, 256, 128, true};
    // The first capture lets the system create what it keeps for the screen.
    ASSERT_TRUE(capture_display(rect).has_value());
    const DWORD objects_before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    const int room_before = gdi_room_left();
    for (int i = 0; i < 1000; ++i) {
        const auto frame = capture_display(rect);
        ASSERT_TRUE(frame.has_value());
        ASSERT_EQ(frame->size(), 256u * 128 * 4);
    }
    const DWORD objects_after = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    const int room_after = gdi_room_left();
    std::printf(
        "GDI objects (GetGuiResources) before %lu, after %lu; room left before %d, after %d\n",
        static_cast<unsigned long>(objects_before), static_cast<unsigned long>(objects_after),
        room_before, room_after);
    EXPECT_EQ(objects_after, objects_before);
    EXPECT_GT(room_before, 1000);
    EXPECT_EQ(room_after, room_before);
}

TEST_F(Win32Capture, GdiRoomProbeSeesALeak) {
    // The probe itself must notice objects that are not given back.
    const int room_before = gdi_room_left();
    HDC screen = ::GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    std::vector<HBITMAP> kept;
    for (int i = 0; i < 10; ++i) {
        kept.push_back(::CreateCompatibleBitmap(screen, 1, 1));
    }
    const int room_while_kept = gdi_room_left();
    for (HBITMAP bitmap : kept) {
        ::DeleteObject(bitmap);
    }
    ::ReleaseDC(nullptr, screen);
    EXPECT_LE(room_while_kept, room_before - 10);
}

}  // namespace
}  // namespace screenshot_contract
