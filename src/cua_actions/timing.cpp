#include "cua_actions/timing.h"

#include <array>
#include <utility>

#include "logging/write_redact.h"
#include "text/text.h"

namespace cua_actions {
namespace {

constexpr const char* kTimingSource = "tauri";
constexpr const char* kTimingEvent = "cua.action.timing";
constexpr const char* kTimingMode = "cua";
constexpr std::size_t kTextPreviewChars = 80;
constexpr std::size_t kScriptPreviewChars = 120;
constexpr std::size_t kErrorPreviewChars = 160;

// A deep copy of one request parameter; null when params is not an object or lacks it.
Json copy_param(const Json& params, const char* key) {
    const Json* found = find_param(params, key);
    return found != nullptr ? *found : Json(nullptr);
}

// Length and preview of a text parameter: 0 and "" when it is missing or not a string.
void summarize_text(Json& summary, const Json& params, const char* key, const char* length_key,
                    const char* preview_key, std::size_t preview_chars) {
    const std::string* value = string_param(params, key);
    summary[length_key] = value != nullptr ? text::utf8_char_count(*value) : 0;
    summary[preview_key] = value != nullptr ? preview_for_log(*value, preview_chars) : "";
}

// Copies the named request keys under their record names.
Json copy_params(const Json& params,
                 std::initializer_list<std::pair<const char*, const char*>> keys) {
    Json summary = Json::object();
    for (const auto& [record_key, request_key] : keys) {
        summary[record_key] = copy_param(params, request_key);
    }
    return summary;
}

// What the record keeps of the parameters: only what places the action, never free text
// beyond a short preview; unknown actions keep everything.
Json summarize_params(const std::string& action, const Json& params) {
    if (action == "type") {
        Json summary = Json::object();
        summarize_text(summary, params, "text", "textLength", "textPreview", kTextPreviewChars);
        return summary;
    }
    if (action == "run_applescript") {
        Json summary = Json::object();
        summarize_text(summary, params, "script", "scriptLength", "scriptPreview",
                       kScriptPreviewChars);
        return summary;
    }
    if (action == "press") {
        return copy_params(params, {{"key", "key"}});
    }
    if (action == "press_combination") {
        return copy_params(params, {{"key1", "key1"}, {"key2", "key2"}, {"key3", "key3"}});
    }
    if (action == "click" || action == "right_click" || action == "move") {
        return copy_params(params, {{"position", "position"}});
    }
    if (action == "scroll") {
        return copy_params(params, {{"position", "position"}, {"amount", "amount"}});
    }
    if (action == "drag") {
        return copy_params(params, {{"position1", "position1"}, {"position2", "position2"}});
    }
    if (action == "open_app") {
        return copy_params(params, {{"appName", "app_name"}});
    }
    if (action == "screenshot") {
        return copy_params(params,
                           {{"displayId", "display_id"}, {"contentsOnly", "contents_only"}});
    }
    return params;
}

// Result members copied as they are; "display_id" is renamed.
constexpr std::array<const char*, 13> kCopiedResultData{
    "width",        "height",           "sourceWidth", "sourceHeight", "scaleFactor",
    "normalized",   "display_relative", "physical",    "global",       "screen",
    "sourceScreen", "origin",           "pid",
};

Json summarize_result(const ActionResult& result) {
    Json summary = Json::object();
    const Json* ok = find_param(result, "ok");
    summary["ok"] = ok != nullptr && ok->is_boolean() && ok->get<bool>();
    if (const std::string* error = string_param(result, "error")) {
        summary["error"] = preview_for_log(*error, kErrorPreviewChars);
    }
    const Json* data = find_param(result, "data");
    if (data == nullptr || !data->is_object()) {
        return summary;
    }
    if (const Json* display = find_param(*data, "display_id")) {
        summary["displayId"] = *display;
    }
    for (const char* key : kCopiedResultData) {
        if (const Json* member = find_param(*data, key)) {
            summary[key] = *member;
        }
    }
    return summary;
}

bool is_success(const ActionResult& result) {
    const Json* ok = find_param(result, "ok");
    return ok != nullptr && ok->is_boolean() && ok->get<bool>();
}

}  // namespace

std::string preview_for_log(std::string_view text, std::size_t max_chars) {
    return text::utf8_prefix(text, max_chars);
}

bool verbose_log_enabled(const std::optional<std::string>& value) {
    if (!value) {
        return false;
    }
    const std::string word = text::ascii_lower(text::trim(*value));
    return word == "1" || word == "true" || word == "yes" || word == "on";
}

void log_native_action_timing(const std::string& component, const std::string& action,
                              const Json& params, MonotonicInstant elapsed,
                              const std::optional<std::string>& verbose_setting,
                              const ActionResult& result) {
    try {
        // Truncating; a clock that ran backwards counts as no time at all.
        const std::uint64_t duration_ms =
            elapsed.count() > 0
                ? static_cast<std::uint64_t>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count())
                : 0;

        const bool succeeded = is_success(result);
        if (succeeded && !verbose_log_enabled(verbose_setting)) {
            return;
        }
        const char* outcome = succeeded ? "completed" : "failed";

        Json timing = Json::object();
        timing["action"] = action;
        timing["durationMs"] = duration_ms;
        timing["durationSeconds"] = static_cast<double>(duration_ms) / 1000.0;
        timing["params"] = summarize_params(action, params);
        timing["result"] = summarize_result(result);

        logging::LogInput input;
        input.source = kTimingSource;
        input.event = kTimingEvent;
        input.level = succeeded ? "info" : "warn";
        input.component = component;
        input.message = "CUA native action " + action + " " + outcome + " in " +
                        std::to_string(duration_ms) + "ms";
        input.mode = kTimingMode;
        input.target = action;
        input.data = std::move(timing);
        // Logging never decides an action's outcome: its error text is dropped.
        (void)logging::write_log(std::move(input));
    } catch (...) {
        // Out of memory while summarising: the record is lost, the result stands.
    }
}

}  // namespace cua_actions
