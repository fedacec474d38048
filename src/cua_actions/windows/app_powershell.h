#pragma once
// run_powershell (and run_applescript): the blocked-operation guard, the
// wrapper script that reports the outcome as one JSON document, its encoding
// for -EncodedCommand, and the runner of one hidden PowerShell child.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cua_actions/action_result.h"

namespace cua_actions::windows {

inline constexpr std::chrono::seconds kPowerShellTimeLimit{30};
inline constexpr std::uint32_t kPowerShellPollIntervalMs = 50;
// After the child exited, how long to wait for end-of-file on its pipes: a
// program the script started may hold their write ends for as long as it runs.
inline constexpr std::uint32_t kPowerShellOutputGraceMs = 250;
inline constexpr std::uint32_t kPowerShellRetryPauseMs = 200;
inline constexpr int kPowerShellMaxRuns = 2;
inline constexpr char kPowerShellProgram[] = "powershell.exe";
inline constexpr char kPowerShellDefaultError[] = "PowerShell execution failed";

// Lower-cased (full Unicode mapping), split at runs of Unicode white space and
// joined with single spaces: "Remove-Item\t-Recurse\n -Force " ->
// "remove-item -recurse -force".
std::string normalize_for_guard(std::string_view script);

// The first blocked entry, in table order, found in the normalised script.
std::optional<std::string_view> find_blocked_operation(std::string_view script);

// The nine-line wrapper around the script as received, joined by line feeds.
std::string build_powershell_wrapper(std::string_view script);

// UTF-16LE code units of `wrapper`, no byte-order mark, in padded base64.
std::string encode_powershell_command(std::string_view wrapper);

// One hidden PowerShell run of the encoded command: {"ok":true,"data":{"output":...}},
// a failure reported by the script ("retryable" false) or a failure of the run
// itself ("retryable" true). `time_limit` is shorter only in tests.
ActionResult run_powershell_once(const std::string& encoded_command,
                                 std::chrono::seconds time_limit = kPowerShellTimeLimit);

// The action: guard, wrap, encode, at most two runs; passes on "ok" and "error" only.
ActionResult handle_powershell(const Json& params);

}  // namespace cua_actions::windows
