// The PowerShell runner on the real Win32 child-process operations, against the
// stand-in powershell.exe (tests/e2e/tools/powershell). The stand-in is found
// through ZELTO_TEST_POWERSHELL (full path of the built powershell.exe) or,
// when that is unset, at e2e\tools\powershell\powershell.exe beside this
// test program; its folder is put first on PATH for each test, so the runner's
// own search-path resolution finds it.
#include <windows.h>

#include "standin_path.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cua_actions/windows/app_powershell.h"
#include "cua_actions/windows/child_io.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "text/json_output.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

namespace fs = std::filesystem;

using test_support::get_env;
using test_support::standin_path;

bool is_running(DWORD pid) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        return false;
    }
    // A process just terminated through its job may take a moment to be gone.
    const bool running = ::WaitForSingleObject(process, 1000) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

void kill_pid(DWORD pid) {
    const HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process != nullptr) {
        ::TerminateProcess(process, 1);
        ::WaitForSingleObject(process, 5000);
        ::CloseHandle(process);
    }
}

class PowerShellRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin_ = standin_path();
        ASSERT_TRUE(fs::exists(standin_))
            << "stand-in not built: " << standin_.string() << " (set ZELTO_TEST_POWERSHELL)";
        old_path_ = get_env(L"PATH");
        ::SetEnvironmentVariableW(L"PATH",
                                  (standin_.parent_path().wstring() + L";" + old_path_).c_str());
        pid_log_ = fs::temp_directory_path() /
                   (L"zelto-standin-" + std::to_wstring(::GetCurrentProcessId()) + L".log");
        fs::remove(pid_log_);
        ::SetEnvironmentVariableW(L"ZELTO_STANDIN_PID_LOG", pid_log_.c_str());
        set_platform(&win32_platform());
    }

    void TearDown() override {
        set_platform(nullptr);
        for (DWORD pid : logged_pids()) {
            kill_pid(pid);  // tidy up after a failed expectation
        }
        ::SetEnvironmentVariableW(L"PATH", old_path_.c_str());
        ::SetEnvironmentVariableW(L"ZELTO_STANDIN_PID_LOG", nullptr);
        std::error_code ignored;
        fs::remove(pid_log_, ignored);
    }

    std::vector<DWORD> logged_pids() const {
        std::vector<DWORD> pids;
        std::ifstream log(pid_log_);
        DWORD pid = 0;
        while (log >> pid) {
            pids.push_back(pid);
        }
        return pids;
    }

    void expect_no_standin_running(const std::string& context) {
        const std::vector<DWORD> pids = logged_pids();
        EXPECT_FALSE(pids.empty()) << context << ": the stand-in never ran";
        for (DWORD pid : pids) {
            EXPECT_FALSE(is_running(pid)) << context << ": process " << pid << " left running";
        }
        std::error_code ignored;
        fs::remove(pid_log_, ignored);
    }

    static ActionResult run(const std::string& script,
                            std::chrono::seconds limit = kPowerShellTimeLimit) {
        return run_powershell_once(encode_powershell_command(build_powershell_wrapper(script)),
                                   limit);
    }

    fs::path standin_;
    std::wstring old_path_;
    fs::path pid_log_;
};

TEST_F(PowerShellRunnerTest, WrapperDocumentsOfTheStandInBecomeResults) {
    struct Case {
        const char* script;
        const char* expected;
    };
    const Case cases[] = {
        {"Write-Output hello", R"({"data":{"output":"hello\r\n"},"ok":true})"},
        {"zt-output a\\r\\nb\\r\\n", R"({"data":{"output":"a\r\nb\r\n"},"ok":true})"},
        {"", R"({"data":{"output":""},"ok":true})"},
        {"Write-Output \xc3\xa9\xf0\x9f\x98\x80",
         "{\"data\":{\"output\":\"\xc3\xa9\xf0\x9f\x98\x80\\r\\n\"},\"ok\":true}"},
        {"zt-print {\"ok\":true}", R"({"data":{"output":""},"ok":true})"},
        {"zt-stderr   first warning  \nthrow 'bad thing'",
         R"({"category":"OperationStopped","error":"bad thing","ok":false,"reason":"RuntimeException","retryable":false,"stderr":"first warning"})"},
        {"zt-fail-bare",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"zt-print []",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"zt-print \"text\"",
         R"({"category":null,"error":"PowerShell execution failed","ok":false,"reason":null,"retryable":false,"stderr":""})"},
        {"zt-print {\"ok\":true}\\r\\n{\"ok\":true}\\r\\n",
         R"({"error":"PowerShell returned non-JSON output: {\"ok\":true}\r\n{\"ok\":true}","ok":false,"retryable":true})"},
        {"zt-print Loading\\r\\n{\"ok\":true}",
         R"({"error":"PowerShell returned non-JSON output: Loading\r\n{\"ok\":true}","ok":false,"retryable":true})"},
        {"zt-exit-silent",
         R"({"error":"PowerShell returned non-JSON output: ","ok":false,"retryable":true})"},
        {"zt-stderr boom\nzt-exit-silent",
         R"({"error":"PowerShell returned non-JSON output: ; stderr: boom","ok":false,"retryable":true})"},
        // Both streams in the OEM code page, read back through it.
        {"zt-oem\nWrite-Output caf\xc3\xa9",
         "{\"data\":{\"output\":\"caf\xc3\xa9\\r\\n\"},\"ok\":true}"},
        {"zt-oem\nzt-stderr caf\xc3\xa9\nthrow 'd\xc3\xa9j\xc3\xa0'",
         "{\"category\":\"OperationStopped\",\"error\":\"d\xc3\xa9j\xc3\xa0\",\"ok\":false,"
         "\"reason\":\"RuntimeException\",\"retryable\":false,\"stderr\":\"caf\xc3\xa9\"}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::json_dump(run(c.script)), c.expected) << c.script;
        expect_no_standin_running(c.script);
    }
}

TEST_F(PowerShellRunnerTest, LargeDocumentArrivesWhole) {
    const ActionResult result = run("zt-big 500");
    ASSERT_EQ(result["ok"], true) << text::json_dump(result).substr(0, 300);
    EXPECT_EQ(result["data"]["output"], std::string(500 * 1024, 'x'));
    expect_no_standin_running("zt-big");
}

TEST_F(PowerShellRunnerTest, OverlongCommandLineStartsNothing) {
    // Wine would start the stand-in with the command cut short.
    const std::string result = text::json_dump(run(std::string(20000, 'x')));
    EXPECT_EQ(result.rfind(R"({"error":"PowerShell spawn failed: the command line is )", 0), 0u)
        << result;
    EXPECT_TRUE(logged_pids().empty());
}

TEST_F(PowerShellRunnerTest, ChildGetsAConsoleOfItsOwnWithoutAWindow) {
    EXPECT_EQ(run("zt-console")["data"]["output"], "console-processes 1\r\n");
}

TEST_F(PowerShellRunnerTest, TimeLimitEndsTheChildAndEverythingItStarted) {
    const ActionResult result =
        run("zt-spawn-holder 120\nStart-Sleep 120", std::chrono::seconds(2));
    EXPECT_EQ(text::json_dump(result),
              R"({"error":"PowerShell timed out after 2 seconds","ok":false,"retryable":true})");
    const std::vector<DWORD> pids = logged_pids();
    // The stand-in and its grandchild (which may log itself as well).
    EXPECT_EQ(std::set<DWORD>(pids.begin(), pids.end()).size(), 2u);
    expect_no_standin_running("time-out");
}

TEST_F(PowerShellRunnerTest, GrandchildHoldingThePipesDoesNotHoldTheRun) {
    const auto started = std::chrono::steady_clock::now();
    const ActionResult result = run("zt-spawn-holder 120\nWrite-Output done");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(result["ok"], true) << text::json_dump(result);
    const std::string output = result["data"]["output"];
    // Waiting for end-of-file would last the holder's 120 seconds.
    EXPECT_LT(elapsed, std::chrono::seconds(20));
    std::istringstream words(output);
    std::string holder;
    DWORD pid = 0;
    words >> holder >> pid;
    ASSERT_EQ(holder, "holder") << output;
    EXPECT_TRUE(is_running(pid)) << "what the script started must keep running";
    kill_pid(pid);
}

TEST_F(PowerShellRunnerTest, MissingProgramIsASpawnFailure) {
    const fs::path empty = fs::temp_directory_path() / L"zelto-empty-path";
    fs::create_directories(empty);
    ::SetEnvironmentVariableW(L"PATH", empty.c_str());
    EXPECT_EQ(
        text::json_dump(run("Write-Output x")),
        R"({"error":"PowerShell spawn failed: powershell.exe was not found on the search path","ok":false,"retryable":true})");

    ChildProcessLaunch launch;
    launch.program = (empty / L"nothing-here.exe").string();
    const ChildStart start = win32_platform().start_child_process(launch);
    EXPECT_EQ(start.child, 0u);
    EXPECT_EQ(start.error.rfind("CreateProcessW failed: ", 0), 0u) << start.error;
    fs::remove(empty);
}

TEST_F(PowerShellRunnerTest, SearchPathIgnoresTheCurrentDirectoryAndRelativeEntries) {
    const fs::path base = fs::temp_directory_path() / L"zelto-search-path";
    const fs::path planted = base / L"cwd";
    const fs::path real = base / L"real";
    fs::create_directories(planted);
    fs::create_directories(real);
    std::ofstream(planted / L"zelto-tool.exe") << "x";
    std::ofstream(real / L"zelto-tool.exe") << "x";
    fs::create_directories(real / L"zelto-dir.exe");
    const fs::path old_cwd = fs::current_path();
    fs::current_path(planted);

    ::SetEnvironmentVariableW(L"PATH", L".;;cwd;zelto-tool;C:zelto");
    EXPECT_FALSE(win32_platform().search_path("zelto-tool.exe"));
    ::SetEnvironmentVariableW(L"PATH", (L".;\"" + real.wstring() + L"\"").c_str());
    const auto found = win32_platform().search_path("zelto-tool.exe");
    ASSERT_TRUE(found);
    EXPECT_EQ(fs::path(text::utf8_to_utf16(*found)), real / L"zelto-tool.exe");
    EXPECT_FALSE(win32_platform().search_path("zelto-dir.exe"));  // folders are not programs

    fs::current_path(old_cwd);
    fs::remove_all(base);
}

TEST(Win32CommandLine, QuotedArgumentsComeBackUnchanged) {
    const std::vector<std::string> arguments{"-NoProfile",
                                             "plain",
                                             "",
                                             "two words",
                                             "tab\there",
                                             R"(say "hi")",
                                             R"(C:\dir\)",
                                             R"(C:\dir with space\)",
                                             R"(a\\"b)",
                                             R"(\\server\share)",
                                             "try { '[]' }",
                                             "\xc3\xa9"};
    const std::u16string line =
        quote_command_line(R"(C:\Program Files\x\powershell.exe)", arguments);
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count);
    ASSERT_NE(argv, nullptr);
    ASSERT_EQ(count, static_cast<int>(arguments.size()) + 1);
    EXPECT_EQ(text::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[0])),
              R"(C:\Program Files\x\powershell.exe)");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(text::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i + 1])),
                  arguments[i]);
    }
    ::LocalFree(argv);
}

}  // namespace
}  // namespace cua_actions::windows
