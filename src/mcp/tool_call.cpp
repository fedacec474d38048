#include "mcp/tool_call.h"

#include <chrono>
#include <thread>

#include "mcp/elements_text.h"
#include "mcp/jsonrpc.h"
#include "mcp/model_arguments.h"
#include "mcp/tool_result.h"
#include "text/json_output.h"
#include "text/text.h"

namespace mcp {
namespace {

// Taken off the image budget beyond the measured excess before the second try.
constexpr std::int64_t kRetryMarginBytes = 1024;
// A budget below this holds no image worth looking at.
constexpr std::int64_t kSmallestImageBudget = 4096;
// How soon a wait notices that it may stop.
constexpr int kWaitSliceMs = 20;

// On the wire each line ends in a line feed, which counts against the limit too.
std::int64_t wire_bytes(const std::string& line) {
    return static_cast<std::int64_t>(line.size()) + 1;
}

ToolCalls::Answer tool_error_answer(const Json& id, std::string text) {
    return {result_message(id, tool_error(std::move(text))), std::nullopt};
}

}  // namespace

ToolCalls::ToolCalls(ScreenshotSettings settings) : settings_(std::move(settings)) {}

void ToolCalls::remember(const ScreenKey& key, const ImageGeometry& geometry) {
    memory_.remember(key, geometry);
}

ToolCalls::Answer ToolCalls::answer(const Json& id, const Tool& tool, const Json& arguments,
                                    const RequestRunner& run, const StopCheck& stop) const {
    if (tool.name == "wait") {
        const zelto::Result<double> seconds = wait_seconds(arguments);
        if (!seconds) {
            return tool_error_answer(id, seconds.error());
        }
        // In short slices, so that a cancellation or the client's going ends it.
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(*seconds));
        while (!(stop && stop())) {
            const auto left = until - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) {
                break;
            }
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                left, std::chrono::milliseconds(kWaitSliceMs)));
        }
        if (arguments.value("screenshot", false) == true) {
            return screenshot(id, *find_tool("screenshot"), arguments, run);
        }
        Json waited{{"waited_seconds", *seconds}};
        return {
            result_message(
                id, Json{{"content",
                          Json::array({Json{{"type", "text"}, {"text", text::json_dump(waited)}}})},
                         {"structuredContent", waited}}),
            std::nullopt};
    }
    if (tool.name == "zoom") {
        const zelto::Result<ExecutorCall> call = executor_call(tool.name, arguments, memory_);
        if (!call) {
            return tool_error_answer(id, call.error());
        }
        // The zoom is an image to look at, never one that later coordinates refer to.
        Answer answer = screenshot(id, *find_tool("screenshot"), call->params, run, true);
        answer.screenshot.reset();
        return answer;
    }
    if (tool.returns_image) {
        return screenshot(id, tool, arguments, run);
    }
    // Converted when the call runs, not when it arrives: a screenshot queued
    // before it decides what its pixels mean.
    const zelto::Result<Json> positions =
        positions_from_coordinates(tool.coordinates, arguments, memory_);
    if (!positions) {
        return tool_error_answer(id, positions.error());
    }
    const zelto::Result<ExecutorCall> call = executor_call(tool.name, *positions, memory_);
    if (!call) {
        return tool_error_answer(id, call.error());
    }
    ExecutorRun result =
        run(text::json_dump(Json{{"action", call->action}, {"params", call->params}}) + "\n");
    if (result.outcome == ExecutorRun::Outcome::cancelled) {
        return {};
    }
    if (tool.name == "cursor_position") {
        if (const std::optional<Json> data = success_data(result)) {
            result.output = text::json_dump(
                Json{{"ok", true}, {"data", with_image_coordinate(*data, memory_)}});
        }
    }
    if (tool.lists_elements) {
        if (const std::optional<Json> data = success_data(result)) {
            return {elements_answer(id, *data), std::nullopt};
        }
    }
    return {result_message(id, call_tool_result(tool, result)), std::nullopt};
}

std::string ToolCalls::elements_answer(const Json& id, const Json& data) const {
    const std::string text = elements_text(data, screenshot_of_display(data, memory_));
    Json result{{"content", Json::array({Json{{"type", "text"}, {"text", text}}})},
                {"structuredContent", data}};
    std::string line = result_message(id, result);
    if (wire_bytes(line) > settings_.max_response_bytes) {
        // The lines say it all; the structured copy goes first.
        result.erase("structuredContent");
        line = result_message(id, result);
    }
    if (wire_bytes(line) > settings_.max_response_bytes) {
        return result_message(
            id, tool_error("The elements do not fit in a response of at most " +
                           std::to_string(settings_.max_response_bytes) +
                           " bytes; ask for fewer with max_elements or interactive_only"));
    }
    return line;
}

ToolCalls::Answer ToolCalls::screenshot(const Json& id, const Tool& tool, const Json& arguments,
                                        const RequestRunner& run, bool zoom) const {
    zelto::Result<Json> params = screenshot_params(arguments, settings_);
    if (!params) {
        return tool_error_answer(id, params.error());
    }
    const ScreenKey key = screen_key(arguments);
    const std::int64_t limit = settings_.max_response_bytes;
    // Everything but the base64 is known before the capture: the id, the
    // envelope and the longest text the geometry can give.
    std::int64_t budget =
        image_budget(limit - wire_bytes(result_message(id, screenshot_envelope(key))));
    for (int attempt = 0; attempt < 2 && budget >= kSmallestImageBudget; ++attempt) {
        (*params)["max_bytes"] = budget;
        const ExecutorRun result = run(executor_request(tool, *params));
        if (result.outcome == ExecutorRun::Outcome::cancelled) {
            return {};
        }
        const std::optional<Json> data = success_data(result);
        if (!data) {
            return {result_message(id, call_tool_result(tool, result)), std::nullopt};
        }
        zelto::Result<ScreenshotImage> shot = screenshot_result(*data, key);
        if (!shot) {
            return tool_error_answer(id, shot.error());
        }
        if (zoom) {
            shot->result["content"][1]["text"] = text::concat(
                {"A ", std::to_string(shot->geometry.width), "x",
                 std::to_string(shot->geometry.height), " image of region ",
                 text::json_dump(params->value("region", Json())),
                 " (display pixels) at the display's resolution. Coordinates still refer to the "
                 "most recent screenshot, not to this image."});
        }
        std::string line = result_message(id, shot->result);
        const std::int64_t excess = wire_bytes(line) - limit;
        if (excess <= 0) {
            return {std::move(line), std::pair(key, shot->geometry)};
        }
        // Only an executor that overran its budget gets here.
        budget = image_budget(budget / 3 * 4 - excess - kRetryMarginBytes);
    }
    return tool_error_answer(
        id, "No screenshot fits in a response of at most " + std::to_string(limit) +
                " bytes (ZELTO_CUA_MCP_MAX_RESPONSE_BYTES); try a smaller max_size or format "
                "jpeg");
}

}  // namespace mcp
