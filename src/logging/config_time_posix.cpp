// Environment and local offset from the C library (it honours TZ).
#ifndef _WIN32

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "logging/config_time_system.h"
#include "text/text.h"

namespace logging {

std::optional<std::string> native_get_env(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || !text::is_valid_utf8(value)) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::int64_t> native_local_minus_utc_seconds(const Instant& utc) {
    const std::chrono::sys_days days{std::chrono::year_month_day{
        std::chrono::year{utc.year}, std::chrono::month{utc.month}, std::chrono::day{utc.day}}};
    const std::time_t seconds = static_cast<std::time_t>(days.time_since_epoch().count()) * 86'400 +
                                utc.hour * 3600 + utc.minute * 60 + utc.second;
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(local.tm_gmtoff);
}

}  // namespace logging

#endif  // !_WIN32
