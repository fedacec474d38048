#include "mcp/tool_result.h"

#include "mcp/screenshot_tool.h"
#include "text/json_output.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace mcp {
namespace {

Json text_item(std::string text) {
    return Json{{"type", "text"}, {"text", std::move(text)}};
}

Json error_result(std::string text, const Json* data = nullptr) {
    Json result{{"content", Json::array({text_item(std::move(text))})}, {"isError", true}};
    if (data != nullptr && data->is_object()) {
        result["structuredContent"] = *data;
    }
    return result;
}

Json success_result(const Json* data) {
    if (data == nullptr || !data->is_object()) {
        return Json{{"content", Json::array({text_item("{\"ok\":true}")})}};
    }
    return Json{{"content", Json::array({text_item(text::json_dump(*data))})},
                {"structuredContent", *data}};
}

// The executor's result line: its first line, read as JSON.
std::optional<Json> result_line(const std::string& output) {
    const std::string line = text::trim(output.substr(0, output.find('\n')));
    if (!text::is_valid_utf8(line)) {
        return std::nullopt;
    }
    text::JsonReadResult parsed = text::read_json(line);
    if (!parsed.ok() || !parsed.value.is_object()) {
        return std::nullopt;
    }
    return std::move(parsed.value);
}

const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::string error_text(const Json& result) {
    const Json* error = member(result, "error");
    return error != nullptr && error->is_string() ? error->get<std::string>()
                                                  : "zelto-cua reported a failure";
}

}  // namespace

Json call_tool_result(const Tool& tool, const ExecutorRun& run) {
    switch (run.outcome) {
        case ExecutorRun::Outcome::failed:
            return error_result("zelto-cua could not run: " + run.error);
        case ExecutorRun::Outcome::timed_out:
        case ExecutorRun::Outcome::cancelled:
            return error_result("zelto-cua did not finish within " +
                                std::to_string(tool.time_limit.count()) + " seconds and was ended");
        case ExecutorRun::Outcome::finished:
            break;
    }
    const std::optional<Json> result = result_line(run.output);
    const Json* ok = result ? member(*result, "ok") : nullptr;
    if (ok == nullptr || !ok->is_boolean()) {
        return error_result("zelto-cua gave no result (exit status " +
                            std::to_string(run.exit_code) + ")");
    }
    const Json* data = member(*result, "data");
    if (!ok->get<bool>() || run.exit_code != 0) {
        return error_result(error_text(*result), data);
    }
    if (tool.returns_image && data != nullptr && data->is_object()) {
        zelto::Result<ScreenshotImage> shot = screenshot_result(*data, std::nullopt);
        return shot ? std::move(shot->result) : error_result(shot.error());
    }
    return success_result(data);
}

std::optional<Json> success_data(const ExecutorRun& run) {
    if (run.outcome != ExecutorRun::Outcome::finished || run.exit_code != 0) {
        return std::nullopt;
    }
    std::optional<Json> result = result_line(run.output);
    const Json* ok = result ? member(*result, "ok") : nullptr;
    if (ok == nullptr || *ok != true) {
        return std::nullopt;
    }
    const auto data = result->find("data");
    if (data == result->end() || !data->is_object()) {
        return std::nullopt;
    }
    return std::move(*data);
}

Json tool_error(std::string text) {
    return error_result(std::move(text));
}

}  // namespace mcp
