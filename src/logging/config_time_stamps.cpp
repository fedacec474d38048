// Calendar arithmetic, RFC 3339 texts, zone labels, time keys and log file names.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "logging/config_time.h"
#include "logging/config_time_system.h"

namespace logging {
namespace {

constexpr std::int64_t kMaxOffsetSeconds = 93'599;  // 25:59:59
constexpr int kShiftMinYear = -9999;
constexpr int kShiftMaxYear = 9999;
constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::size_t kTimeKeyLength = 16;
constexpr std::size_t kZonedBaseLength = 26;  // "UTC+0800_" + time key + "Z"
constexpr std::string_view kLogExtension = ".log";

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool fields_valid(const Instant& instant) {
    const std::chrono::year_month_day date{std::chrono::year{instant.year},
                                           std::chrono::month{instant.month},
                                           std::chrono::day{instant.day}};
    return date.ok() && instant.hour < 24 && instant.minute < 60 && instant.second < 60 &&
           instant.nanosecond < 1'000'000'000;
}

std::int64_t offset_seconds(UtcOffset offset) {
    return std::int64_t{offset.hours} * 3600 + std::int64_t{offset.minutes} * 60 + offset.seconds;
}

// Wall-clock seconds since 1970-01-01 00:00 of the instant's own calendar fields.
std::int64_t wall_seconds(const Instant& instant) {
    const std::chrono::sys_days days{std::chrono::year_month_day{std::chrono::year{instant.year},
                                                                 std::chrono::month{instant.month},
                                                                 std::chrono::day{instant.day}}};
    return std::int64_t{days.time_since_epoch().count()} * kSecondsPerDay +
           std::int64_t{instant.hour} * 3600 + std::int64_t{instant.minute} * 60 + instant.second;
}

Instant instant_from_wall_seconds(std::int64_t seconds, std::uint32_t nanosecond,
                                  UtcOffset offset) {
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const std::chrono::year_month_day date{
        std::chrono::sys_days{std::chrono::days{static_cast<int>(days)}}};
    Instant instant;
    instant.year = static_cast<int>(date.year());
    instant.month = static_cast<unsigned>(date.month());
    instant.day = static_cast<unsigned>(date.day());
    instant.hour = static_cast<unsigned>(rest / 3600);
    instant.minute = static_cast<unsigned>(rest % 3600 / 60);
    instant.second = static_cast<unsigned>(rest % 60);
    instant.nanosecond = nanosecond;
    instant.offset = offset;
    return instant;
}

// Decimal number of 1 or more that fits in 64 bits; one leading '+' is tolerated.
std::optional<std::uint64_t> parse_sequence(std::string_view digits) {
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : digits) {
        if (!is_digit(c)) {
            return std::nullopt;
        }
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (value == 0) {
        return std::nullopt;
    }
    return value;
}

// "UTC", sign, four digits, "_", time key, "Z" at the start of the stem.
bool has_zoned_base(std::string_view stem) {
    if (stem.size() < kZonedBaseLength || stem.substr(0, 3) != "UTC" ||
        (stem[3] != '+' && stem[3] != '-')) {
        return false;
    }
    for (std::size_t i = 4; i < 8; ++i) {
        if (!is_digit(stem[i])) {
            return false;
        }
    }
    return stem[8] == '_' && is_valid_time_key(stem.substr(9, kTimeKeyLength)) && stem[25] == 'Z';
}

}  // namespace

Instant instant_from_system_time(SystemInstant time) {
    // Split the count itself: going back through chrono durations would scale the floored
    // seconds to nanoseconds again, which leaves the 64-bit range in the first second of it.
    constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
    const std::int64_t count = time.time_since_epoch().count();
    std::int64_t seconds = count / kNanosPerSecond;
    std::int64_t nanos = count % kNanosPerSecond;
    if (nanos < 0) {
        nanos += kNanosPerSecond;
        --seconds;
    }
    return instant_from_wall_seconds(seconds, static_cast<std::uint32_t>(nanos), UtcOffset{});
}

std::optional<Instant> shift_to_offset(const Instant& utc, UtcOffset offset) {
    if (!fields_valid(utc) || std::abs(utc.year) > kShiftMaxYear) {
        return std::nullopt;
    }
    const std::int64_t seconds =
        wall_seconds(utc) - offset_seconds(utc.offset) + offset_seconds(offset);
    Instant shifted = instant_from_wall_seconds(seconds, utc.nanosecond, offset);
    if (shifted.year < kShiftMinYear || shifted.year > kShiftMaxYear) {
        return std::nullopt;
    }
    return shifted;
}

std::string format_timestamp(const Instant& instant) {
    const UtcOffset& offset = instant.offset;
    if (!fields_valid(instant) || instant.year < 0 || instant.year > 9999 ||
        std::abs(offset.hours) > 23 || std::abs(offset.minutes) > 59 || offset.seconds != 0) {
        return std::string(kTimestampFallback);
    }
    char buffer[64];
    int length =
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02u:%02u:%02u", instant.year,
                      instant.month, instant.day, instant.hour, instant.minute, instant.second);
    std::string out(buffer, static_cast<std::size_t>(length));
    if (instant.nanosecond != 0) {
        length = std::snprintf(buffer, sizeof buffer, "%09u", unsigned{instant.nanosecond});
        std::string fraction(buffer, static_cast<std::size_t>(length));
        fraction.erase(fraction.find_last_not_of('0') + 1);
        out += '.';
        out += fraction;
    }
    if (offset.hours == 0 && offset.minutes == 0) {
        out += 'Z';
    } else {
        const bool negative = offset.hours < 0 || offset.minutes < 0;
        length = std::snprintf(buffer, sizeof buffer, "%c%02d:%02d", negative ? '-' : '+',
                               std::abs(offset.hours), std::abs(offset.minutes));
        out.append(buffer, static_cast<std::size_t>(length));
    }
    return out;
}

UtcOffset utc_offset_from_seconds(std::optional<std::int64_t> local_minus_utc) {
    if (!local_minus_utc || *local_minus_utc < -kMaxOffsetSeconds ||
        *local_minus_utc > kMaxOffsetSeconds) {
        return UtcOffset{};
    }
    const std::int64_t difference = *local_minus_utc;
    // Truncating division: every part takes the sign of the difference.
    return UtcOffset{static_cast<int>(difference / 3600), static_cast<int>(difference % 3600 / 60),
                     static_cast<int>(difference % 60)};
}

UtcOffset local_utc_offset() {
    LogSystem& system = log_system();
    const Instant now = instant_from_system_time(system.utc_now());
    return utc_offset_from_seconds(system.local_minus_utc_seconds(now));
}

std::string format_zone_label(UtcOffset offset) {
    const int total_minutes = offset.hours * 60 + offset.minutes;
    const int magnitude = std::abs(total_minutes);
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "UTC%c%02d%02d",
                                     total_minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string format_time_key(const Instant& utc) {
    if (!fields_valid(utc) || utc.year < 0 || utc.year > 9999) {
        return std::string(kTimeKeyFallback);
    }
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u-%02u-%02u", utc.year,
                                     utc.month, utc.day, utc.hour, utc.minute);
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool is_valid_time_key(std::string_view key) {
    if (key.size() != kTimeKeyLength) {
        return false;
    }
    for (std::size_t i = 0; i < key.size(); ++i) {
        const bool dash_position = i == 4 || i == 7 || i == 10 || i == 13;
        if (dash_position ? key[i] != '-' : !is_digit(key[i])) {
            return false;
        }
    }
    return true;
}

std::optional<LogNameParts> parse_runtime_log_name(std::string_view file_name) {
    if (file_name.size() <= kLogExtension.size() || !file_name.ends_with(kLogExtension)) {
        return std::nullopt;
    }
    const std::string_view stem = file_name.substr(0, file_name.size() - kLogExtension.size());

    if (stem.size() == kTimeKeyLength) {
        if (!is_valid_time_key(stem)) {
            return std::nullopt;
        }
        return LogNameParts{std::string(stem), 0};
    }
    if (has_zoned_base(stem)) {
        const std::string_view base = stem.substr(0, kZonedBaseLength);
        if (stem.size() == kZonedBaseLength) {
            return LogNameParts{std::string(base), 0};
        }
        if (stem[kZonedBaseLength] != '-') {
            return std::nullopt;
        }
        const auto sequence = parse_sequence(stem.substr(kZonedBaseLength + 1));
        if (!sequence) {
            return std::nullopt;
        }
        return LogNameParts{std::string(base), *sequence};
    }
    if (stem.size() >= kTimeKeyLength + 2 && is_valid_time_key(stem.substr(0, kTimeKeyLength)) &&
        stem[kTimeKeyLength] == '-') {
        const auto sequence = parse_sequence(stem.substr(kTimeKeyLength + 1));
        if (!sequence) {
            return std::nullopt;
        }
        return LogNameParts{std::string(stem.substr(0, kTimeKeyLength)), *sequence};
    }
    return std::nullopt;
}

}  // namespace logging
