// The capture contract against the real GDI, and a leak check over many
// captures through the action's own capture code.
#include <windows.h>

#include <cstdio>

#include "../screenshot_contract.h"
#include "cua_actions/windows/screenshot_capture.h"
#include "cua_actions/windows/win32_platform.h"

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

TEST_F(Win32Capture, ThousandCapturesKeepTheGdiObjectCount) {
    const DWORD before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    const DisplayInfo rect{0, 0, 256, 128, true};
    for (int i = 0; i < 1000; ++i) {
        const auto frame = capture_display(rect);
        ASSERT_TRUE(frame.has_value());
        ASSERT_EQ(frame->size(), 256u * 128 * 4);
    }
    const DWORD after = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    // Wine may report 0 for every process; the simulated desktop's handle table
    // covers the release order in that case.
    std::printf("GDI objects before %lu, after %lu\n", static_cast<unsigned long>(before),
                static_cast<unsigned long>(after));
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace screenshot_contract
