// The child-process contract run against the real Win32 implementation.

#include "../process_contract.h"
#include "cua_actions/windows/win32/win32_platform.h"

namespace process_contract {
namespace {

struct Win32Side {
    Platform& os() { return win32_platform(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ProcessContract, Win32Side);

}  // namespace
}  // namespace process_contract
