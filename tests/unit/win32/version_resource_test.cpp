// The version resource of both shipped executables, read back the way Explorer's
// file properties read it, against the project's version.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The executables are built one folder above this test program.
std::filesystem::path built_executable(const wchar_t* name) {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    return std::filesystem::path(self).parent_path().parent_path() / name;
}

std::wstring widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring string_value(const std::vector<char>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!::VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) {
        return L"<missing>";
    }
    return static_cast<const wchar_t*>(value);
}

TEST(VersionResourceTest, BothExecutablesCarryTheProjectVersion) {
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(ZELTO_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    const std::wstring version = widen(ZELTO_VERSION);
    for (const wchar_t* name : {L"zelto-cua.exe", L"zelto-cua-mcp.exe"}) {
        SCOPED_TRACE(std::filesystem::path(name).string());
        const std::wstring path = built_executable(name).wstring();
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << "no version resource: " << ::GetLastError();
        std::vector<char> block(size);
        ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

        void* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", &fixed, &length));
        const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
        EXPECT_EQ(info->dwFileVersionMS, static_cast<DWORD>(major << 16 | minor));
        EXPECT_EQ(info->dwFileVersionLS, static_cast<DWORD>(patch << 16));
        EXPECT_EQ(info->dwProductVersionMS, info->dwFileVersionMS);
        EXPECT_EQ(info->dwProductVersionLS, info->dwFileVersionLS);

        EXPECT_EQ(string_value(block, L"FileVersion"), version);
        EXPECT_EQ(string_value(block, L"ProductVersion"), version);
        EXPECT_EQ(string_value(block, L"ProductName"), L"zelto-cua");
        EXPECT_EQ(string_value(block, L"OriginalFilename"), name);
        EXPECT_NE(string_value(block, L"LegalCopyright").find(L"MIT licence"), std::wstring::npos);
        EXPECT_NE(string_value(block, L"FileDescription"), L"<missing>");
    }
}

}  // namespace
