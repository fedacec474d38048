#pragma once
// The action timing record: measures one dispatched request and decides
// whether and how it goes into the structured log.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "cua_actions/action_result.h"

namespace cua_actions {

// Monotonic instant, as read from the platform clock.
using MonotonicInstant = std::chrono::nanoseconds;

inline constexpr char kVerboseLogVariable[] = "ZELTO_CUA_VERBOSE_LOG";

// Called once on the dispatcher's exit path for every request, with the time the
// request took on the monotonic clock and the value of kVerboseLogVariable (the
// caller reads both from the platform). Never fails and never changes the result.
void log_native_action_timing(const std::string& component, const std::string& action,
                              const Json& params, MonotonicInstant elapsed,
                              const std::optional<std::string>& verbose_setting,
                              const ActionResult& result);

// The first `max_chars` characters of `text` (all of it when shorter), never splitting one;
// no trimming, no marker.
std::string preview_for_log(std::string_view text, std::size_t max_chars);

// Whether "ZELTO_CUA_VERBOSE_LOG" asks for successful requests to be recorded: "1",
// "true", "yes" or "on" after trimming and ASCII lower-casing.
bool verbose_log_enabled(const std::optional<std::string>& value);

}  // namespace cua_actions
