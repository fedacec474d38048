#pragma once
// The screen-capture operations' contract, run against the simulated desktop
// and (under Wine) the Win32 implementation: the capture's call sequence must
// succeed step by step and give every object back.

#include <gtest/gtest.h>

#include <vector>

#include "cua_actions/windows/platform.h"

namespace screenshot_contract {

using namespace cua_actions::windows;

template <class Side>
class CaptureContract : public ::testing::Test {
  protected:
    Side side;
};

TYPED_TEST_SUITE_P(CaptureContract);

TYPED_TEST_P(CaptureContract, TopDownReadOfACopiedRectangleAndCleanRelease) {
    Platform& os = this->side.os();
    constexpr std::int32_t kWidth = 48;
    constexpr std::int32_t kHeight = 32;
    const Handle screen = os.get_dc(0);
    ASSERT_NE(screen, 0u);
    const Handle memory = os.create_compatible_dc(screen);
    ASSERT_NE(memory, 0u);
    const Handle bitmap = os.create_compatible_bitmap(screen, kWidth, kHeight);
    ASSERT_NE(bitmap, 0u);
    const Handle previous = os.select_object(memory, bitmap);
    EXPECT_NE(previous, 0u) << "a new memory context holds a default bitmap";
    EXPECT_TRUE(os.bit_blt(memory, 0, 0, kWidth, kHeight, screen, 0, 0, kSrcCopy));

    std::vector<std::uint8_t> pixels(kWidth * kHeight * 4, 0xCD);
    BitmapInfoHeader header;
    header.size = kBitmapInfoHeaderSize;
    header.width = kWidth;
    header.height = -kHeight;
    header.planes = 1;
    header.bit_count = 32;
    header.compression = kBiRgb;
    header.size_image = kWidth * kHeight * 4;
    EXPECT_EQ(os.get_di_bits(memory, bitmap, 0, kHeight, pixels, header, kDibRgbColors), kHeight);
    EXPECT_EQ(header.width, kWidth);
    EXPECT_EQ(header.height, -kHeight);
    EXPECT_EQ(header.bit_count, 32);

    EXPECT_EQ(os.select_object(memory, previous), bitmap);
    EXPECT_TRUE(os.delete_object(bitmap));
    EXPECT_TRUE(os.delete_dc(memory));
    EXPECT_TRUE(os.release_dc(0, screen));
}

TYPED_TEST_P(CaptureContract, ReadWithAnUnsupportedDescriptionCopiesNothing) {
    Platform& os = this->side.os();
    const Handle screen = os.get_dc(0);
    ASSERT_NE(screen, 0u);
    const Handle memory = os.create_compatible_dc(screen);
    const Handle bitmap = os.create_compatible_bitmap(screen, 8, 8);
    std::vector<std::uint8_t> pixels(8 * 8 * 4, 0xCD);
    BitmapInfoHeader header;  // size 0: not a BITMAPINFOHEADER
    header.width = 8;
    header.height = -8;
    header.planes = 1;
    header.bit_count = 32;
    EXPECT_EQ(os.get_di_bits(memory, bitmap, 0, 8, pixels, header, kDibRgbColors), 0);
    EXPECT_TRUE(os.delete_object(bitmap));
    EXPECT_TRUE(os.delete_dc(memory));
    EXPECT_TRUE(os.release_dc(0, screen));
}

REGISTER_TYPED_TEST_SUITE_P(CaptureContract, TopDownReadOfACopiedRectangleAndCleanRelease,
                            ReadWithAnUnsupportedDescriptionCopiesNothing);

}  // namespace screenshot_contract
