// The platform contract run against the real Win32 implementation (under Wine in CI).

#include <windows.h>

#include "../platform_contract.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace contract {
namespace {

std::wstring wide(const std::string& utf8) {
    const std::u16string units = text::utf8_to_utf16(utf8);
    return std::wstring(units.begin(), units.end());
}

class Win32Side final : public ContractSide {
  public:
    Platform& os() override { return cua_actions::windows::win32_platform(); }
    void set_env(const std::string& name, const std::string& value) override {
        ::SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str());
    }
    void unset_env(const std::string& name) override {
        ::SetEnvironmentVariableW(wide(name).c_str(), nullptr);
    }
    bool runs_under_wine() const override {
        return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, PlatformContract, Win32Side);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ClipboardContract, Win32Side);

}  // namespace
}  // namespace contract
