// The guard, the wrapper script and the retrying action handler.
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <array>

#include "cua_actions/windows/app_powershell.h"
#include "cua_actions/windows/platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

// Checked in this order; the first one found is reported. Entry 4 keeps its
// trailing space, so a script merely ending in "iex" passes.
constexpr std::array<std::string_view, 11> kBlockedOperations{
    "set-executionpolicy",
    "start-process -verb runas",
    "invoke-expression",
    "iex ",
    "downloadstring(",
    "remove-item -recurse -force",
    "format-volume",
    "clear-disk",
    "stop-computer",
    "restart-computer",
    "shutdown",
};

constexpr std::string_view kWrapperHead =
    "$ErrorActionPreference = 'Stop'\n"
    "try {\n"
    "  $zeltoResult = & {\n";
constexpr std::string_view kWrapperTail =
    "\n"
    "  }\n"
    "  [PSCustomObject]@{ ok = $true; output = [string]($zeltoResult | Out-String) }\n"
    "} catch {\n"
    "  [PSCustomObject]@{ ok = $false; error = $_.Exception.Message; category = "
    "[string]$_.CategoryInfo.Category; reason = [string]$_.CategoryInfo.Reason }\n"
    "} | ConvertTo-Json -Compress -Depth 6";

// Only the JSON value true counts, never 1 or "true".
bool is_true(const Json* value) {
    return value != nullptr && value->is_boolean() && value->get<bool>();
}

}  // namespace

std::string normalize_for_guard(std::string_view script) {
    const std::u16string lowered = text::utf8_to_utf16(text::to_lower(script));
    std::u16string joined;
    bool pending_separator = false;
    for (std::size_t i = 0; i < lowered.size();) {
        const std::size_t start = i;
        UChar32 c;
        U16_NEXT(lowered.data(), i, lowered.size(), c);
        if (u_isUWhiteSpace(c)) {
            pending_separator = !joined.empty();
            continue;
        }
        if (pending_separator) {
            joined.push_back(u' ');
            pending_separator = false;
        }
        joined.append(lowered, start, i - start);
    }
    return text::utf16_to_utf8(joined);
}

std::optional<std::string_view> find_blocked_operation(std::string_view script) {
    const std::string normalized = normalize_for_guard(script);
    for (std::string_view entry : kBlockedOperations) {
        if (normalized.find(entry) != std::string::npos) {
            return entry;
        }
    }
    return std::nullopt;
}

std::string build_powershell_wrapper(std::string_view script) {
    std::string wrapper;
    wrapper.reserve(kWrapperHead.size() + script.size() + kWrapperTail.size());
    wrapper.append(kWrapperHead).append(script).append(kWrapperTail);
    return wrapper;
}

std::string encode_powershell_command(std::string_view wrapper) {
    const std::u16string units = text::utf8_to_utf16(wrapper);
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return text::base64_encode(bytes);
}

ActionResult handle_powershell(const Json& params) {
    const std::string* script = string_param(params, "script");
    if (script == nullptr) {
        return error_result("Missing script");
    }
    if (const auto blocked = find_blocked_operation(*script)) {
        return error_result("Blocked PowerShell operation: " + std::string(*blocked));
    }
    const std::string encoded = encode_powershell_command(build_powershell_wrapper(*script));

    std::string last_error = kPowerShellDefaultError;
    for (int run = 1; run <= kPowerShellMaxRuns; ++run) {
        ActionResult result = run_powershell_once(encoded);
        if (is_true(find_param(result, "ok"))) {
            return result;
        }
        const std::string* error = string_param(result, "error");
        last_error = error != nullptr ? *error : kPowerShellDefaultError;
        if (run == kPowerShellMaxRuns || !is_true(find_param(result, "retryable"))) {
            break;
        }
        platform().sleep_ms(kPowerShellRetryPauseMs);
    }
    return error_result(last_error);
}

}  // namespace cua_actions::windows
