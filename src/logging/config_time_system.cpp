#include "logging/config_time_system.h"

#include <chrono>

namespace logging {
namespace {

LogSystem* g_replacement = nullptr;

}  // namespace

std::optional<std::string> NativeLogSystem::get_env(const std::string& name) {
    return native_get_env(name);
}

SystemInstant NativeLogSystem::utc_now() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

std::optional<std::int64_t> NativeLogSystem::local_minus_utc_seconds(const Instant& utc) {
    return native_local_minus_utc_seconds(utc);
}

LogSystem& log_system() {
    static NativeLogSystem native;
    return g_replacement != nullptr ? *g_replacement : native;
}

void set_log_system(LogSystem* replacement) {
    g_replacement = replacement;
}

}  // namespace logging
