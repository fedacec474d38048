// Environment (through the platform's Win32 side) and local offset from kernel32.
#ifdef _WIN32

#include <windows.h>

#include <string>

#include "cua_actions/windows/win32/win32_platform.h"
#include "logging/config_time_system.h"
#include "text/text.h"

namespace logging {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;  // FILETIME counts 100 ns

std::optional<std::int64_t> whole_seconds(const SYSTEMTIME& time) {
    FILETIME file_time{};
    if (!::SystemTimeToFileTime(&time, &file_time)) {
        return std::nullopt;
    }
    const std::uint64_t ticks =
        (std::uint64_t{file_time.dwHighDateTime} << 32) | file_time.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / kTicksPerSecond);
}

}  // namespace

std::optional<std::string> native_get_env(const std::string& name) {
    return cua_actions::windows::read_environment_variable(name);
}

std::optional<std::int64_t> native_local_minus_utc_seconds(const Instant& utc) {
    if (utc.year < 1601 || utc.year > 30827) {
        return std::nullopt;  // outside what SYSTEMTIME can hold
    }
    SYSTEMTIME utc_time{};
    utc_time.wYear = static_cast<WORD>(utc.year);
    utc_time.wMonth = static_cast<WORD>(utc.month);
    utc_time.wDay = static_cast<WORD>(utc.day);
    utc_time.wHour = static_cast<WORD>(utc.hour);
    utc_time.wMinute = static_cast<WORD>(utc.minute);
    utc_time.wSecond = static_cast<WORD>(utc.second);
    utc_time.wMilliseconds = static_cast<WORD>(utc.nanosecond / 1'000'000);
    SYSTEMTIME local_time{};
    // No explicit zone: the system's current time-zone settings decide.
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc_time, &local_time)) {
        return std::nullopt;
    }
    const auto utc_seconds = whole_seconds(utc_time);
    const auto local_seconds = whole_seconds(local_time);
    if (!utc_seconds || !local_seconds) {
        return std::nullopt;
    }
    return *local_seconds - *utc_seconds;
}

}  // namespace logging

#endif  // _WIN32
