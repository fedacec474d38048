#pragma once
// The child-process operations' contract, run against the simulated desktop
// and (under Wine) the Win32 implementation: what a runner relies on when a
// program is missing or a handle is not a live child.

#include <gtest/gtest.h>

#include "cua_actions/windows/platform.h"

namespace process_contract {

using namespace cua_actions::windows;

template <class Side>
class ProcessContract : public ::testing::Test {
  protected:
    Side side;
};

TYPED_TEST_SUITE_P(ProcessContract);

TYPED_TEST_P(ProcessContract, AbsentProgramIsNotFoundOnThePath) {
    EXPECT_FALSE(this->side.os().search_path("zelto-no-such-program-4711.exe"));
}

TYPED_TEST_P(ProcessContract, EveryOperationRefusesAHandleThatIsNoChild) {
    Platform& os = this->side.os();
    for (const Handle bogus : {Handle{0}, Handle{0xDEAD}}) {
        const ChildStatus status = os.check_child_exit(bogus);
        EXPECT_EQ(status.state, ChildState::failed);
        EXPECT_FALSE(status.error.empty());
        EXPECT_FALSE(os.terminate_child_tree(bogus));
        EXPECT_FALSE(os.wait_child_exit(bogus));
        const ChildOutput output = os.collect_child_output(bogus, 0);
        EXPECT_FALSE(output.ok);
        EXPECT_FALSE(output.error.empty());
        os.close_child_process(bogus);  // harmless
    }
}

// What reading a console program's output relies on.
TYPED_TEST_P(ProcessContract, CodePage437ConvertsAndUnknownCodePagesFail) {
    Platform& os = this->side.os();
    EXPECT_NE(os.get_oem_code_page(), 0u);
    EXPECT_EQ(os.multi_byte_to_wide_char(437, "caf\x82 \xb0\xe1\xff"),
              u"caf\u00e9 \u2591\u00df\u00a0");
    EXPECT_EQ(os.multi_byte_to_wide_char(437, ""), u"");
    EXPECT_FALSE(os.multi_byte_to_wide_char(4711, "x"));
}

REGISTER_TYPED_TEST_SUITE_P(ProcessContract, AbsentProgramIsNotFoundOnThePath,
                            EveryOperationRefusesAHandleThatIsNoChild,
                            CodePage437ConvertsAndUnknownCodePagesFail);

}  // namespace process_contract
