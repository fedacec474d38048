#pragma once
// Where the Windows tests find the PowerShell stand-in: ZELTO_TEST_POWERSHELL,
// else the build's own copy beside unit_tests.exe.

#include <windows.h>

#include <filesystem>
#include <string>

namespace test_support {

inline std::wstring get_env(const wchar_t* name) {
    const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring value(needed, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), needed));
    return value;
}

inline std::filesystem::path standin_path() {
    const std::wstring configured = get_env(L"ZELTO_TEST_POWERSHELL");
    if (!configured.empty()) {
        return std::filesystem::path(configured);
    }
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    return std::filesystem::path(self).parent_path() / L"e2e" / L"tools" / L"powershell" /
           L"powershell.exe";
}

}  // namespace test_support
