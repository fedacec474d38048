#pragma once
// The platform contract, written once and run against both sides: the
// simulated desktop on Linux and the Win32 implementation under Wine. This is
// how we know the simulation tells the truth.
//
// Each area keeps its own typed suite (PlatformContract<Area>) so suites can
// grow independently; platform_contract_sim_test.cpp and
// win32/platform_contract_win32_test.cpp instantiate every suite.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cua_actions/windows/platform.h"

namespace contract {

using cua_actions::windows::Platform;

// What a side provides to the contract tests.
class ContractSide {
  public:
    virtual ~ContractSide() = default;
    virtual Platform& os() = 0;
    // Arranges an environment variable as the outside world would.
    virtual void set_env(const std::string& name, const std::string& value) = 0;
    virtual void unset_env(const std::string& name) = 0;
    // Wine refuses zero-size clipboard blocks that Windows accepts.
    virtual bool runs_under_wine() const { return false; }
};

template <class Side>
class PlatformContract : public ::testing::Test {
  protected:
    std::unique_ptr<ContractSide> side = std::make_unique<Side>();
    Platform& os() { return side->os(); }
};

TYPED_TEST_SUITE_P(PlatformContract);

TYPED_TEST_P(PlatformContract, MonitorsEnumerateWithReadableInfoAndOnePrimary) {
    const auto monitors = this->os().enum_display_monitors();
    ASSERT_FALSE(monitors.empty());
    int primaries = 0;
    for (auto monitor : monitors) {
        const auto info = this->os().get_monitor_info(monitor);
        ASSERT_TRUE(info.has_value());
        EXPECT_LT(info->monitor.left, info->monitor.right);
        EXPECT_LT(info->monitor.top, info->monitor.bottom);
        if (info->flags == cua_actions::windows::kMonitorInfoFlagPrimary) {
            ++primaries;
            EXPECT_EQ(info->monitor.left, 0);
            EXPECT_EQ(info->monitor.top, 0);
            EXPECT_EQ(info->monitor.right,
                      this->os().get_system_metrics(cua_actions::windows::kSmCxScreen));
            EXPECT_EQ(info->monitor.bottom,
                      this->os().get_system_metrics(cua_actions::windows::kSmCyScreen));
        }
    }
    EXPECT_EQ(primaries, 1);
    EXPECT_FALSE(this->os().get_monitor_info(0).has_value());
}

TYPED_TEST_P(PlatformContract, CursorGoesWhereItIsSetWithinTheScreen) {
    ASSERT_TRUE(this->os().set_cursor_pos(123, 456));
    const auto position = this->os().get_cursor_pos();
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(position->x, 123);
    EXPECT_EQ(position->y, 456);
}

TYPED_TEST_P(PlatformContract, SendInputAcceptsAZeroLengthMove) {
    const auto record =
        cua_actions::windows::InputRecord::mouse_event(cua_actions::windows::kMouseEventMove);
    EXPECT_EQ(this->os().send_input({&record, 1}), 1u);
}

TYPED_TEST_P(PlatformContract, DpiStepSucceedsOrExplains) {
    if (!this->os().set_process_dpi_aware()) {
        EXPECT_NE(this->os().get_last_error(), 0u);
    }
}

TYPED_TEST_P(PlatformContract, SleepAdvancesTheMonotonicClockAtLeastThatLong) {
    const auto before = this->os().monotonic_now();
    this->os().sleep_ms(20);
    const auto after = this->os().monotonic_now();
    EXPECT_GE(after - before, std::chrono::milliseconds(20));
    EXPECT_LT(after - before, std::chrono::seconds(5));
}

TYPED_TEST_P(PlatformContract, EnvironmentRoundTripsUnicodeAndEmptyValues) {
    this->side->set_env("ZELTO_CONTRACT_VAR", "h\xC3\xA9llo \xF0\x9F\x98\x80");
    EXPECT_EQ(this->os().get_env("ZELTO_CONTRACT_VAR"),
              std::optional<std::string>("h\xC3\xA9llo \xF0\x9F\x98\x80"));
    this->side->set_env("ZELTO_CONTRACT_VAR", "");
    EXPECT_EQ(this->os().get_env("ZELTO_CONTRACT_VAR"), std::optional<std::string>(""));
    this->side->unset_env("ZELTO_CONTRACT_VAR");
    EXPECT_EQ(this->os().get_env("ZELTO_CONTRACT_VAR"), std::nullopt);
}

REGISTER_TYPED_TEST_SUITE_P(PlatformContract, MonitorsEnumerateWithReadableInfoAndOnePrimary,
                            CursorGoesWhereItIsSetWithinTheScreen, SendInputAcceptsAZeroLengthMove,
                            DpiStepSucceedsOrExplains,
                            SleepAdvancesTheMonotonicClockAtLeastThatLong,
                            EnvironmentRoundTripsUnicodeAndEmptyValues);

// --- clipboard and global memory ------------------------------------------------
template <class Side>
class ClipboardContract : public ::testing::Test {
  protected:
    std::unique_ptr<ContractSide> side = std::make_unique<Side>();
    Platform& os() { return side->os(); }

    // A new movable block holding `bytes`, or 0.
    cua_actions::windows::Handle block_of(const std::string& bytes) {
        const auto block = os().global_alloc(cua_actions::windows::kGmemMoveable, bytes.size());
        if (block != 0 && !bytes.empty()) {
            void* address = os().global_lock(block);
            EXPECT_NE(address, nullptr);
            if (address != nullptr) {
                std::copy(bytes.begin(), bytes.end(), static_cast<char*>(address));
            }
            os().global_unlock(block);
        }
        return block;
    }
    std::vector<std::uint32_t> formats() {
        std::vector<std::uint32_t> found;
        for (std::uint32_t f = os().enum_clipboard_formats(0); f != 0;
             f = os().enum_clipboard_formats(f)) {
            found.push_back(f);
        }
        return found;
    }
    // The bytes of a format, the block's whole reported size.
    std::optional<std::string> read(std::uint32_t format) {
        const auto data = os().get_clipboard_data(format);
        if (data == 0) {
            return std::nullopt;
        }
        const std::size_t size = os().global_size(data);
        const void* address = os().global_lock(data);
        if (address == nullptr) {
            return std::nullopt;
        }
        std::string bytes(static_cast<const char*>(address), size);
        os().global_unlock(data);
        return bytes;
    }
};

TYPED_TEST_SUITE_P(ClipboardContract);

TYPED_TEST_P(ClipboardContract, RegisteredNamesKeepTheirIdentifier) {
    const std::uint32_t first = this->os().register_clipboard_format("ZeltoContractPrivate");
    EXPECT_GE(first, 0xC000u);
    EXPECT_EQ(this->os().register_clipboard_format("ZeltoContractPrivate"), first);
    EXPECT_NE(this->os().register_clipboard_format("ZeltoContractOther"), first);
}

TYPED_TEST_P(ClipboardContract, FormatsRoundTripWithTheirExactBytes) {
    const std::uint32_t private_format =
        this->os().register_clipboard_format("ZeltoContractPrivate");
    const std::string text("h\0i\0\0\0", 6);  // UTF-16 "hi" and its terminator
    const std::string binary("\x01\x00\xFF\x7F", 4);
    ASSERT_TRUE(this->os().open_clipboard(0));
    EXPECT_TRUE(this->os().empty_clipboard());
    const auto text_block = this->block_of(text);
    const auto binary_block = this->block_of(binary);
    ASSERT_NE(text_block, 0u);
    EXPECT_EQ(this->os().global_size(text_block), text.size());
    EXPECT_EQ(this->os().set_clipboard_data(cua_actions::windows::kCfUnicodeText, text_block),
              text_block);
    EXPECT_EQ(this->os().set_clipboard_data(private_format, binary_block), binary_block);
    EXPECT_TRUE(this->os().close_clipboard());

    ASSERT_TRUE(this->os().open_clipboard(0));
    const std::vector<std::uint32_t> formats = this->formats();
    const auto text_at =
        std::find(formats.begin(), formats.end(), cua_actions::windows::kCfUnicodeText);
    const auto private_at = std::find(formats.begin(), formats.end(), private_format);
    ASSERT_NE(text_at, formats.end());
    ASSERT_NE(private_at, formats.end());
    EXPECT_LT(text_at, private_at);  // set order is kept
    EXPECT_EQ(this->read(cua_actions::windows::kCfUnicodeText), text);
    EXPECT_EQ(this->read(private_format), binary);
    EXPECT_EQ(this->read(0xC000 + 0x3FFE), std::nullopt);  // a format that is not there
    EXPECT_TRUE(this->os().close_clipboard());
}

TYPED_TEST_P(ClipboardContract, AnEmptyBlockCanBeSetAndEmptyingRemovesEverything) {
    const std::uint32_t marker = this->os().register_clipboard_format("ZeltoContractMarker");
    ASSERT_TRUE(this->os().open_clipboard(0));
    EXPECT_TRUE(this->os().empty_clipboard());
    const auto empty_block = this->os().global_alloc(cua_actions::windows::kGmemMoveable, 0);
    ASSERT_NE(empty_block, 0u);
    EXPECT_EQ(this->os().global_size(empty_block), 0u);
    if (this->side->runs_under_wine()) {
        // Wine refuses the empty block (the typing code ignores that failure);
        // mark the clipboard with a one-byte block instead so emptying is still checked.
        EXPECT_EQ(this->os().set_clipboard_data(marker, empty_block), 0u);
        this->os().global_free(empty_block);
        EXPECT_NE(this->os().set_clipboard_data(marker, this->block_of("x")), 0u);
    } else {
        EXPECT_NE(this->os().set_clipboard_data(marker, empty_block), 0u);
    }
    EXPECT_TRUE(this->os().close_clipboard());

    ASSERT_TRUE(this->os().open_clipboard(0));
    const std::vector<std::uint32_t> formats = this->formats();
    EXPECT_NE(std::find(formats.begin(), formats.end(), marker), formats.end());
    EXPECT_TRUE(this->os().empty_clipboard());
    EXPECT_EQ(this->os().enum_clipboard_formats(0), 0u);
    EXPECT_TRUE(this->os().close_clipboard());
}

TYPED_TEST_P(ClipboardContract, AFreedBlockIsGoneAndLockingNothingFails) {
    const auto block = this->block_of("abc");
    ASSERT_NE(block, 0u);
    EXPECT_EQ(this->os().global_free(block), 0u);
    EXPECT_EQ(this->os().global_lock(0), nullptr);
    EXPECT_EQ(this->os().global_size(0), 0u);
}

REGISTER_TYPED_TEST_SUITE_P(ClipboardContract, RegisteredNamesKeepTheirIdentifier,
                            FormatsRoundTripWithTheirExactBytes,
                            AnEmptyBlockCanBeSetAndEmptyingRemovesEverything,
                            AFreedBlockIsGoneAndLockingNothingFails);

}  // namespace contract
