#pragma once
// Log configuration (enabled levels, the per-user data directory) and the time
// texts every record and log file name carries.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace logging {

// --- levels ------------------------------------------------------------------

// Canonical level order; every level list is kept in this order.
inline constexpr std::array<std::string_view, 5> kLevelOrder{"audit", "error", "warn", "info",
                                                             "debug"};

// ' Warning ' -> "warn"; anything unknown (including "info" and "") -> "info".
std::string_view normalize_level(std::string_view level);

// 'debug, audit' -> {"audit", "debug"}; never empty (the default levels when nothing is
// accepted). Only "," separates.
std::vector<std::string> parse_log_levels_csv(std::string_view csv);

// The same acceptance rule for the array form of "logLevels".
std::vector<std::string> accept_log_levels(const std::vector<std::string>& candidates);

std::vector<std::string> default_log_levels();

// --- data directory --------------------------------------------------------------

// ".zelto", ".zelto-test", ".zelto-enterprise" or ".zelto-enterprise-test", from the two
// build settings.
std::string app_data_dir_name();
std::string app_data_dir_name_for(std::string_view edition, std::string_view channel);

// UTF-8 text to a path, whatever the platform's narrow encoding is.
std::filesystem::path path_from_utf8(std::string_view utf8);

// "HOME", else "USERPROFILE" (set and valid Unicode; used unchanged, even when empty).
std::optional<std::filesystem::path> home_directory();

// home / app_data_dir_name(), or nothing without a home directory.
std::optional<std::filesystem::path> data_directory();

// --- runtime configuration ---------------------------------------------------------

struct RuntimeLogConfig {
    std::vector<std::string> levels;  // non-empty, canonical order, no duplicates
};

// Reads the environment and "config.json" afresh; never fails, no side effects.
RuntimeLogConfig load_runtime_log_config();

// Whether `level` is enabled, asked of the process-wide cache (filled on first use).
bool log_level_enabled(std::string_view level);

// Tests only: forget the cached configuration and any broken mark, or set the mark.
void reset_log_config_cache_for_testing();
void mark_log_config_lock_broken_for_testing();

// --- time texts -----------------------------------------------------------------

// All three parts carry the sign of the whole offset.
struct UtcOffset {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    friend bool operator==(const UtcOffset&, const UtcOffset&) = default;
};

// A calendar date and time of day with nanoseconds, at `offset` from UTC.
struct Instant {
    int year = 1970;
    unsigned month = 1;
    unsigned day = 1;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    std::uint32_t nanosecond = 0;
    UtcOffset offset;
    friend bool operator==(const Instant&, const Instant&) = default;
};

inline constexpr std::string_view kTimestampFallback = "1970-01-01T00:00:00Z";
inline constexpr std::string_view kTimeKeyFallback = "1970-01-01-00-00";

using SystemInstant = std::chrono::sys_time<std::chrono::nanoseconds>;

// The instant in UTC.
Instant instant_from_system_time(SystemInstant time);

// The same moment on the wall clock of `offset`; nothing when the result would leave the
// years -9999..9999.
std::optional<Instant> shift_to_offset(const Instant& utc, UtcOffset offset);

// RFC 3339, e.g. "2024-03-05T15:09:02.5+08:00"; "1970-01-01T00:00:00Z" when the instant
// cannot be written so (year outside 0..9999, offset of 24 hours or more, offset seconds).
std::string format_timestamp(const Instant& instant);

// Local time minus UTC right now; UTC when the platform cannot tell.
UtcOffset local_utc_offset();

// The bounds and the split of local_utc_offset: +-93,599 s at most, else UTC.
UtcOffset utc_offset_from_seconds(std::optional<std::int64_t> local_minus_utc);

// "UTC+0800"; the seconds part is ignored.
std::string format_zone_label(UtcOffset offset);

// "2024-03-05-07-09" from a UTC instant; "1970-01-01-00-00" when it cannot be written.
std::string format_time_key(const Instant& utc);

// The shape only: digits at 1-4, 6-7, 9-10, 12-13, 15-16 and "-" at 5, 8, 11, 14.
bool is_valid_time_key(std::string_view key);

// --- log file names -----------------------------------------------------------------

struct LogNameParts {
    std::string base;            // the 16- or 26-character base
    std::uint64_t sequence = 0;  // 0 when the name has no number
    friend bool operator==(const LogNameParts&, const LogNameParts&) = default;
};

// "UTC+0800_2024-03-05-07-09Z-2.log" -> {"UTC+0800_2024-03-05-07-09Z", 2}; nothing for names
// that are not log files.
std::optional<LogNameParts> parse_runtime_log_name(std::string_view file_name);

}  // namespace logging
