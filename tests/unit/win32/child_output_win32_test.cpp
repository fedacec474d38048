// Reading console programs' output on the real Win32 operations: code page
// conversion, and an App Paths value with non-ASCII characters as Wine's (or
// Windows') own reg prints it into a pipe.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "cua_actions/windows/app_index.h"
#include "cua_actions/windows/child_io.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr wchar_t kTestKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zelto-oem-test.exe";

// Double-byte code pages give fewer units than bytes.
TEST(Win32CodePage, GbkNameInCodePage936) {
    EXPECT_EQ(win32_platform().multi_byte_to_wide_char(936, "C:\\\xcc\xda\xd1\xb6\\qq.exe"),
              u"C:\\\u817e\u8baf\\qq.exe");
}

class RegOutputTest : public ::testing::Test {
  protected:
    void SetUp() override { set_platform(&win32_platform()); }
    void TearDown() override {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey);
        set_platform(nullptr);
    }

    static bool set_default_value(const std::wstring& value) {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const LONG status =
            ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

    // What reg writes into our pipe, unconverted.
    static std::string raw_reg_query(const std::string& key) {
        const std::optional<std::string> reg = platform().search_path(kRegProgram);
        if (!reg) {
            return {};
        }
        ChildProcessLaunch launch{*reg, {"query", key, "/ve"}, kCreateNoWindow};
        const ChildStart start = platform().start_child_process(launch);
        if (start.child == 0) {
            return {};
        }
        const ScopedChildProcess child(start.child);
        platform().wait_child_exit(child.get());
        return platform().collect_child_output(child.get(), 1000).out;
    }
};

TEST_F(RegOutputTest, AppPathsValueWithNonAsciiCharactersReachesTheIndex) {
    ASSERT_TRUE(set_default_value(L"C:\\Zelto Caf\u00e9\\tool.exe"));
    // The point of the test: reg's bytes are not UTF-8 (code page 437 gives "caf\x82").
    const std::string raw = raw_reg_query(
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zelto-oem-test.exe");
    ASSERT_NE(raw.find("Zelto Caf"), std::string::npos) << raw;
    EXPECT_FALSE(text::is_valid_utf8(raw)) << raw;
    EXPECT_NE(decode_child_output(raw).find("C:\\Zelto Caf\xc3\xa9\\tool.exe"), std::string::npos);

    const std::vector<WinAppEntry> index = win_build_app_index();
    const auto found = std::find_if(index.begin(), index.end(), [](const WinAppEntry& entry) {
        return entry.name == "zelto-oem-test";
    });
    ASSERT_NE(found, index.end());
    EXPECT_EQ(found->target, "C:\\Zelto Caf\xc3\xa9\\tool.exe");
}

}  // namespace
}  // namespace cua_actions::windows
