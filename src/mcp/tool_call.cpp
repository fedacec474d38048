#include "mcp/tool_call.h"

#include "mcp/elements_text.h"
#include "mcp/jsonrpc.h"
#include "mcp/tool_result.h"

namespace mcp {
namespace {

// Taken off the image budget beyond the measured excess before the second try.
constexpr std::int64_t kRetryMarginBytes = 1024;
// A budget below this holds no image worth looking at.
constexpr std::int64_t kSmallestImageBudget = 4096;

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
                                    const RequestRunner& run) const {
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
    const ExecutorRun result = run(executor_request(tool, *positions));
    if (result.outcome == ExecutorRun::Outcome::cancelled) {
        return {};
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
                                        const RequestRunner& run) const {
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
