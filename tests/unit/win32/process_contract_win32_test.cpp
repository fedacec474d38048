// The child-process contract run against the real Win32 implementation.

#include "../process_contract.h"
#include "cua_actions/windows/win32_platform.h"

namespace process_contract {
namespace {

struct Win32Side {
    Platform& os() { return win32_platform(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ProcessContract, Win32Side);

// Double-byte code pages give fewer units than bytes.
TEST(Win32CodePage, GbkNameInCodePage936) {
    EXPECT_EQ(win32_platform().multi_byte_to_wide_char(936, "C:\\\xcc\xda\xd1\xb6\\qq.exe"),
              u"C:\\\u817e\u8baf\\qq.exe");
}

}  // namespace
}  // namespace process_contract
