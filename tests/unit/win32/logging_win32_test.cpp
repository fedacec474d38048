// The log writer on the real Win32 side: local offset, share modes and writers in
// several processes.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cua_actions/windows/dispatcher.h"
#include "logging/config_time.h"
#include "logging/config_time_system.h"
#include "logging/write_redact.h"
#include "logging/write_redact_fs.h"
#include "support/log_sandbox.h"
#include "support/sim_desktop.h"
#include "text/text.h"

namespace logging {
namespace {

namespace fs = std::filesystem;

// Set in the environment of a child copy of this test binary: the home to write into.
constexpr wchar_t kChildHomeVariable[] = L"ZELTO_LOG_TEST_CHILD_HOME";
constexpr char kChildFilter[] = "LoggingWin32Child.AppendRecords";
constexpr int kChildProcesses = 4;
constexpr int kRecordsPerChild = 200;
constexpr DWORD kChildTimeoutMs = 120'000;
constexpr wchar_t kLockHolderFileVariable[] = L"ZELTO_LOG_TEST_LOCK_FILE";
constexpr char kLockHolderFilter[] = "LoggingWin32Child.HoldAppendLock";
constexpr DWORD kLockHoldMs = 5000;

class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = nullptr;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

// Everything from the handle's current position to the end.
std::string read_all(HANDLE file) {
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        content.append(buffer, got);
    }
    return content;
}

TEST(LoggingWin32, LocalOffsetAgreesWithTheSystemTimeZone) {
    logtest::ScopedLogSandbox sandbox;  // real clocks: the fake only forwards to the system
    TIME_ZONE_INFORMATION zone{};
    const DWORD mode = ::GetTimeZoneInformation(&zone);
    ASSERT_NE(mode, TIME_ZONE_ID_INVALID);
    LONG bias = zone.Bias;  // UTC = local + bias, in minutes
    if (mode == TIME_ZONE_ID_DAYLIGHT) {
        bias += zone.DaylightBias;
    } else if (mode == TIME_ZONE_ID_STANDARD) {
        bias += zone.StandardBias;
    }
    const UtcOffset expected = utc_offset_from_seconds(-std::int64_t{bias} * 60);
    EXPECT_EQ(local_utc_offset(), expected)
        << "bias " << bias << " min, zone label " << format_zone_label(local_utc_offset());
    const auto native = native_local_minus_utc_seconds(instant_from_system_time(
        std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now())));
    ASSERT_TRUE(native.has_value());
    EXPECT_EQ(*native, -std::int64_t{bias} * 60);
}

TEST(LoggingWin32, EnvironmentReadsUnicodeAndTellsEmptyFromUnset) {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"ZELTO_LOG_TEST_VALUE", L"J\u00F6rg \u65E5"));
    EXPECT_EQ(native_get_env("ZELTO_LOG_TEST_VALUE"), "J\u00F6rg \u65E5");
    const wchar_t lone_surrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'\0'};
    ASSERT_TRUE(::SetEnvironmentVariableW(L"ZELTO_LOG_TEST_VALUE", lone_surrogate));
    EXPECT_EQ(native_get_env("ZELTO_LOG_TEST_VALUE"), std::nullopt);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"ZELTO_LOG_TEST_VALUE", nullptr));
    EXPECT_EQ(native_get_env("ZELTO_LOG_TEST_VALUE"), std::nullopt);
}

TEST(LoggingWin32, AppendSharesReadWriteAndDeleteWithOtherHandles) {
    logtest::TempDir dir;
    const fs::path file = dir.path() / "UTC+0000_2024-03-05-07-09Z.log";
    ASSERT_EQ(native_append_to_file(file, "one\n"), std::nullopt);

    // Another process reading, appending and ready to prune: our open must share all three.
    ScopedHandle other(::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other.valid()) << ::GetLastError();
    EXPECT_EQ(native_append_to_file(file, "two\n"), std::nullopt);
    // Read through that handle: the C library's open does not share delete, so with `other`
    // holding DELETE access it would be refused and read nothing.
    EXPECT_EQ(read_all(other.get()), "one\ntwo\n");  // bytes as given, no CR added

    // A handle that refuses to share writing locks us out, and the error comes back as text.
    ScopedHandle exclusive(::CreateFileW((dir.path() / "locked.log").c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(exclusive.valid());
    const auto error = native_append_to_file(dir.path() / "locked.log", "x\n");
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
}

std::wstring quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// A copy of this binary running only one child test, with `variable` set to `value`.
std::optional<ScopedHandle> start_child(const char* filter, const wchar_t* variable,
                                        const fs::path& value) {
    wchar_t exe[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
    if (length == 0 || length >= std::size(exe)) {
        return std::nullopt;
    }
    const std::string_view filter_text(filter);
    std::wstring command =
        quoted(exe) + L" --gtest_filter=" + std::wstring(filter_text.begin(), filter_text.end());
    if (!::SetEnvironmentVariableW(variable, value.c_str())) {
        return std::nullopt;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    ::SetEnvironmentVariableW(variable, nullptr);
    if (!started) {
        return std::nullopt;
    }
    ScopedHandle thread(process.hThread);
    return ScopedHandle(process.hProcess);
}

TEST(LoggingWin32, WritersInSeveralProcessesAppendWholeLines) {
    logtest::ScopedLogSandbox sandbox;
    std::vector<ScopedHandle> children;
    for (int i = 0; i < kChildProcesses; ++i) {
        auto child = start_child(kChildFilter, kChildHomeVariable, sandbox.home());
        ASSERT_TRUE(child.has_value()) << ::GetLastError();
        children.push_back(std::move(*child));
    }
    for (const ScopedHandle& child : children) {
        ASSERT_EQ(::WaitForSingleObject(child.get(), kChildTimeoutMs), WAIT_OBJECT_0);
        DWORD code = 1;
        ASSERT_TRUE(::GetExitCodeProcess(child.get(), &code));
        EXPECT_EQ(code, 0u);
    }
    const auto lines = sandbox.all_lines();
    EXPECT_EQ(lines.size(), std::size_t{kChildProcesses * kRecordsPerChild});
    std::size_t complete = 0;
    for (const std::string& line : lines) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        if (!record.is_discarded() && record.contains("data") &&
            record["data"]["pad"].get<std::string>().size() == 300) {
            ++complete;
        }
    }
    EXPECT_EQ(complete, std::size_t{kChildProcesses * kRecordsPerChild});
}

TEST(LoggingWin32, AWriterHoldingTheAppendLockDelaysAFailedRequestByAtMostTheWait) {
    sim::ScopedSimDesktop desktop;  // the failing action touches no real desktop
    logtest::ScopedLogSandbox sandbox;
    ASSERT_EQ(cua_actions::windows::dispatch("no_such_action", nlohmann::json::object())["ok"],
              false);
    const auto names = sandbox.log_file_names();
    ASSERT_EQ(names.size(), 1u);
    const fs::path file = sandbox.log_dir() / names[0];
    const fs::path held_marker = file.string() + ".held";

    auto holder = start_child(kLockHolderFilter, kLockHolderFileVariable, file);
    ASSERT_TRUE(holder.has_value()) << ::GetLastError();
    const ULONGLONG wait_start = ::GetTickCount64();
    while (!fs::exists(held_marker) && ::GetTickCount64() - wait_start < kChildTimeoutMs) {
        ::Sleep(20);
    }
    ASSERT_TRUE(fs::exists(held_marker)) << "the lock holder never took the lock";

    const ULONGLONG started = ::GetTickCount64();
    const nlohmann::json result =
        cua_actions::windows::dispatch("no_such_action", nlohmann::json::object());
    const ULONGLONG answered_after_ms = ::GetTickCount64() - started;
    EXPECT_EQ(result["ok"], false);
    // The holder keeps the lock for kLockHoldMs; the writer gives up after about a second.
    EXPECT_LT(answered_after_ms, kLockHoldMs - 2000) << "answer waited for the lock holder";
    std::printf("answer with the append lock held elsewhere: %llu ms\n", answered_after_ms);
    EXPECT_FALSE(fs::exists(held_marker.string() + ".released"))
        << "the holder let go before the answer: the wait was not tested";
    const auto lines = sandbox.all_lines();
    ASSERT_EQ(lines.size(), 2u) << "the record written without the lock is missing";
    EXPECT_EQ(nlohmann::json::parse(lines[1])["data"]["action"], "no_such_action");

    ASSERT_EQ(::WaitForSingleObject(holder->get(), kChildTimeoutMs), WAIT_OBJECT_0);
    DWORD code = 1;
    ASSERT_TRUE(::GetExitCodeProcess(holder->get(), &code));
    EXPECT_EQ(code, 0u);
}

// Runs only inside the child started above: holds the append lock of one log file.
TEST(LoggingWin32Child, HoldAppendLock) {
    const auto file = native_get_env("ZELTO_LOG_TEST_LOCK_FILE");
    if (!file) {
        GTEST_SKIP() << "runs only as a child of AWriterHoldingTheAppendLock...";
    }
    const fs::path path = fs::u8path(*file);
    ScopedHandle handle(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(handle.valid()) << ::GetLastError();
    OVERLAPPED range{};
    range.OffsetHigh = 0xFFFFFFFF;  // the writer's lock byte
    ASSERT_TRUE(::LockFileEx(handle.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range));
    logtest::write_file(path.string() + ".held", "");
    ::Sleep(kLockHoldMs);
    logtest::write_file(path.string() + ".held.released", "");
    ::UnlockFileEx(handle.get(), 0, 1, 0, &range);
}

// Runs only inside the children started above.
TEST(LoggingWin32Child, AppendRecords) {
    const auto home = native_get_env("ZELTO_LOG_TEST_CHILD_HOME");
    if (!home) {
        GTEST_SKIP() << "runs only as a child of WritersInSeveralProcessesAppendWholeLines";
    }
    logtest::ScopedLogSandbox sandbox;
    sandbox.system.environment["HOME"] = *home;
    const DWORD pid = ::GetCurrentProcessId();
    for (int i = 0; i < kRecordsPerChild; ++i) {
        LogInput input;
        input.source = "test";
        input.event = "child";
        input.level = "warn";
        input.data = nlohmann::json{{"pid", pid}, {"i", i}, {"pad", std::string(300, 'p')}};
        ASSERT_EQ(write_log(std::move(input)), std::nullopt);
    }
}

}  // namespace
}  // namespace logging
