#pragma once
// What the log needs from the operating system besides files: environment variables and
// the clocks. One process-wide instance; tests install their own.

#include <cstdint>
#include <optional>
#include <string>

#include "logging/config_time.h"

namespace logging {

class LogSystem {
  public:
    virtual ~LogSystem() = default;

    // The variable's value, or nothing when unset or not valid Unicode.
    virtual std::optional<std::string> get_env(const std::string& name) = 0;
    // The wall clock, in UTC.
    virtual SystemInstant utc_now() = 0;
    // Local wall-clock time minus `utc`, in whole seconds under the system's time-zone
    // settings; nothing when the platform cannot tell.
    virtual std::optional<std::int64_t> local_minus_utc_seconds(const Instant& utc) = 0;
};

// The operating system's answers.
class NativeLogSystem : public LogSystem {
  public:
    std::optional<std::string> get_env(const std::string& name) override;
    SystemInstant utc_now() override;
    std::optional<std::int64_t> local_minus_utc_seconds(const Instant& utc) override;
};

LogSystem& log_system();
// Installs `replacement` (not owned); nullptr restores the native one. Not thread-safe:
// install before any log write.
void set_log_system(LogSystem* replacement);

// Platform halves of NativeLogSystem (config_time_win32.cpp, config_time_posix.cpp).
std::optional<std::string> native_get_env(const std::string& name);
std::optional<std::int64_t> native_local_minus_utc_seconds(const Instant& utc);

}  // namespace logging
