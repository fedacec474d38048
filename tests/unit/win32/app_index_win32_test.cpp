// The application index and the window search on the real Win32 operations:
// a folder tree in a temporary directory, a window of this process, and the
// Start-apps query answered by the PowerShell stand-in
// (tests/e2e/tools/powershell, found through ZELTO_TEST_POWERSHELL or beside
// this test program), which prints start_apps.json from its own folder.
#include <windows.h>

#include "standin_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cua_actions/windows/app_index.h"
#include "cua_actions/windows/app_launch.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

namespace fs = std::filesystem;

using test_support::get_env;
using test_support::standin_path;

std::u16string u16(const fs::path& path) {
    const std::wstring wide = path.wstring();
    return std::u16string(wide.begin(), wide.end());
}

std::string utf8(const fs::path& path) {
    return text::utf16_to_utf8(u16(path));
}

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

class AppIndexWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() / (L"zelto-apps-" + std::to_wstring(::GetCurrentProcessId()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        set_platform(&win32_platform());
    }
    void TearDown() override {
        set_platform(nullptr);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    fs::path root_;
};

TEST_F(AppIndexWin32Test, ShortcutTreeIsWalkedWithoutDepthLimit) {
    touch(root_ / L"Zed.LNK");
    touch(root_ / L"a" / L"b" / L"c" / L"d" / L"e" / L"Deep.lnk");
    touch(root_ / L"notes.txt");
    touch(root_ / L"\u98de\u4e66.lnk");
    const auto entries = win_scan_lnk_dir(u16(root_));
    ASSERT_TRUE(entries.has_value());
    std::vector<std::string> names;
    for (const WinAppEntry& entry : *entries) {
        names.push_back(entry.name);
        EXPECT_TRUE(entry.target.empty());
    }
    std::sort(names.begin(), names.end());  // listing order is the file system's
    EXPECT_EQ(names, (std::vector<std::string>{"Deep", "Zed", "飞书"}));
    for (const WinAppEntry& entry : *entries) {
        if (entry.name == "Deep") {
            EXPECT_EQ(entry.lnk_path, utf8(root_ / L"a" / L"b" / L"c" / L"d" / L"e" / L"Deep.lnk"));
        }
    }
    EXPECT_FALSE(win_scan_lnk_dir(u16(root_ / L"missing")).has_value());
}

TEST_F(AppIndexWin32Test, ProgramTreeStopsThreeLevelsDown) {
    touch(root_ / L"top.exe");
    touch(root_ / L"1" / L"2" / L"3" / L"three.EXE");
    touch(root_ / L"1" / L"2" / L"3" / L"4" / L"four.exe");
    touch(root_ / L"setup.exe");
    std::vector<WinAppEntry> out;
    win_scan_exe_dir(out, u16(root_), 0);
    std::vector<std::string> names;
    for (const WinAppEntry& entry : out) {
        names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"three", "top"}));
    EXPECT_TRUE(platform().path_metadata_readable(u16(root_ / L"top.exe")));
    EXPECT_FALSE(platform().path_metadata_readable(u16(root_ / L"nothing.exe")));
}

TEST_F(AppIndexWin32Test, StartAppsEntryTakesItsPlaceInTheIndex) {
    const fs::path standin = standin_path();
    ASSERT_TRUE(fs::exists(standin))
        << "stand-in not built: " << standin.string() << " (set ZELTO_TEST_POWERSHELL)";
    // A private copy, so the JSON beside it is this test's own.
    const fs::path folder = root_ / L"ps";
    fs::create_directories(folder);
    fs::copy_file(standin, folder / L"powershell.exe");
    std::ofstream(folder / L"start_apps.json")
        << R"([{"Name":"Zelto Start App","AppID":" Zelto.StartApp_test!App "},{"Name":7,"AppID":"x"}])";
    const std::wstring old_path = get_env(L"PATH");
    ::SetEnvironmentVariableW(L"PATH", (folder.wstring() + L";" + old_path).c_str());

    const std::vector<WinAppEntry> index = win_build_app_index();
    ::SetEnvironmentVariableW(L"PATH", old_path.c_str());

    const WinAppEntry expected{"Zelto Start App", "", "explorer.exe",
                               "shell:AppsFolder\\Zelto.StartApp_test!App"};
    const auto found = std::find(index.begin(), index.end(), expected);
    ASSERT_NE(found, index.end());
    // After the shortcut, program and App Paths entries; only built-in rows
    // (bare executable names) follow it.
    for (auto it = index.begin(); it != found; ++it) {
        EXPECT_TRUE(it->args.empty()) << it->name;
    }
    ASSERT_NE(found + 1, index.end());
    for (auto it = found + 1; it != index.end(); ++it) {
        EXPECT_TRUE(it->lnk_path.empty() && it->args.empty()) << it->name;
        EXPECT_EQ(it->target.find('\\'), std::string::npos) << it->name << " " << it->target;
    }
    EXPECT_EQ(index.back().name, "Calculator");
}

TEST_F(AppIndexWin32Test, FolderIdentityIsWhatTheFolderIsWhateverPathReachesIt) {
    fs::create_directories(root_ / L"sub");
    touch(root_ / L"file.txt");
    const std::optional<FolderIdentity> root = platform().get_folder_identity(u16(root_));
    const std::optional<FolderIdentity> sub = platform().get_folder_identity(u16(root_ / L"sub"));
    ASSERT_TRUE(root.has_value());
    ASSERT_TRUE(sub.has_value());
    EXPECT_NE(*root, *sub);
    EXPECT_EQ(platform().get_folder_identity(u16(root_) + u"\\"), root);
    EXPECT_EQ(platform().get_folder_identity(u16(root_ / L"sub") + u"\\.."), root);
    EXPECT_EQ(platform().get_folder_identity(u16(root_ / L"SUB")), sub);
    EXPECT_FALSE(platform().get_folder_identity(u16(root_ / L"file.txt")).has_value());
    EXPECT_FALSE(platform().get_folder_identity(u16(root_ / L"missing")).has_value());
}

TEST_F(AppIndexWin32Test, FileAttributesTellFilesFromFolders) {
    touch(root_ / L"app.exe");
    const auto file = platform().get_file_attributes(u16(root_ / L"app.exe"));
    const auto folder = platform().get_file_attributes(u16(root_));
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(*file & kFileAttributeDirectory, 0u);
    EXPECT_NE(*folder & kFileAttributeDirectory, 0u);
    EXPECT_FALSE(platform().get_file_attributes(u16(root_ / L"none.exe")).has_value());
}

TEST_F(AppIndexWin32Test, RegistryDefaultStringsComeBackUnexpanded) {
    const std::wstring key = L"Software\\ZeltoTest-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring expand = L"%SystemRoot%\\\u98de\u4e66.exe";
    const DWORD number = 7;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\expand").c_str(), nullptr,
                                REG_EXPAND_SZ, expand.c_str(),
                                static_cast<DWORD>((expand.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\number").c_str(), nullptr, REG_DWORD,
                                &number, sizeof(number)),
              ERROR_SUCCESS);
    const std::string subkey = text::utf16_to_utf8(std::u16string(key.begin(), key.end()));
    EXPECT_EQ(platform().get_registry_string(RegistryRoot::current_user, subkey + "\\expand"),
              "%SystemRoot%\\飞书.exe");
    EXPECT_FALSE(platform()
                     .get_registry_string(RegistryRoot::current_user, subkey + "\\number")
                     .has_value());
    EXPECT_FALSE(
        platform().get_registry_string(RegistryRoot::current_user, subkey + "\\none").has_value());
    EXPECT_FALSE(platform()
                     .get_registry_string(RegistryRoot::local_machine, subkey + "\\expand")
                     .has_value());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

TEST_F(AppIndexWin32Test, BareNamesComeFromTheSystemFolderNeverTheCurrentOrOwnFolder) {
    // Planted in the current directory and beside this test program, both of
    // which the shell would search before the system folders.
    touch(root_ / L"notepad.exe");
    touch(root_ / L"zt-planted-here.exe");
    std::wstring own(MAX_PATH, L'\0');
    own.resize(::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    const fs::path beside = fs::path(own).parent_path() / L"zt-planted-beside.exe";
    touch(beside);
    const fs::path old_directory = fs::current_path();
    fs::current_path(root_);

    const std::optional<std::string> notepad = win_find_program("notepad");
    const std::optional<std::string> here = win_find_program("zt-planted-here");
    const std::optional<std::string> own_folder = win_find_program("zt-planted-beside");
    fs::current_path(old_directory);
    std::error_code ignored;
    fs::remove(beside, ignored);

    ASSERT_TRUE(notepad.has_value());
    const std::string lower = text::to_lower(*notepad);
    EXPECT_TRUE(lower.ends_with("\\system32\\notepad.exe")) << *notepad;
    EXPECT_EQ(here, std::nullopt);
    EXPECT_EQ(own_folder, std::nullopt);
}

LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return ::DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(AppIndexWin32Test, WindowSearchFindsVisibleTitledWindowsButNotToolWindows) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = plain_proc;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"ZeltoAppSearchTest";
    ::RegisterClassW(&window_class);
    const HWND normal = ::CreateWindowExW(
        0, window_class.lpszClassName, L"Zelto Search \u5fae\u4fe1", WS_OVERLAPPEDWINDOW, 10, 10,
        300, 200, nullptr, nullptr, window_class.hInstance, nullptr);
    const HWND tool = ::CreateWindowExW(WS_EX_TOOLWINDOW, window_class.lpszClassName,
                                        L"Zelto Toolbox", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200,
                                        nullptr, nullptr, window_class.hInstance, nullptr);
    ASSERT_NE(normal, nullptr);
    ASSERT_NE(tool, nullptr);
    const Handle normal_handle = reinterpret_cast<std::uintptr_t>(normal);

    EXPECT_EQ(win_find_window_any({"zelto search"}), std::nullopt);  // not shown yet
    ::ShowWindow(normal, SW_SHOWNOACTIVATE);
    ::ShowWindow(tool, SW_SHOWNOACTIVATE);
    EXPECT_EQ(win_find_window_any({"ZELTO SEARCH"}), normal_handle);
    EXPECT_EQ(win_find_window_any({"微信"}), normal_handle);
    EXPECT_EQ(win_find_window_any({"zelto toolbox"}), std::nullopt);
    EXPECT_EQ(win_window_title(normal_handle), "Zelto Search 微信");
    const auto owner = platform().get_window_thread_process_id(normal_handle);
    EXPECT_EQ(owner.thread_id, ::GetCurrentThreadId());
    EXPECT_EQ(owner.process_id, ::GetCurrentProcessId());

    ::DestroyWindow(tool);
    ::DestroyWindow(normal);
    ::UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
}

}  // namespace
}  // namespace cua_actions::windows
