#include "main/intake.h"

#include <string_view>

#include "text/json_output.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace cua_entry {
namespace {

IntakeOutcome intake_failure(std::string message) {
    const nlohmann::json result{{"error", std::move(message)}, {"ok", false}};
    return IntakeOutcome{text::json_dump(result) + "\n", 1};
}

// The first line that is not empty after trimming, already trimmed.
std::optional<std::string> first_request_line(std::string_view input) {
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) {
            end = input.size();
        }
        std::string line = text::trim(input.substr(start, end - start));
        if (!line.empty()) {
            return line;
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

IntakeOutcome handle_request(const std::optional<std::string>& input, const Dispatcher& dispatch) {
    // Decoding covers the whole input, later lines included.
    if (!input || !text::is_valid_utf8(*input)) {
        return intake_failure("Failed to read stdin");
    }
    const std::optional<std::string> line = first_request_line(*input);
    if (!line) {
        return intake_failure("No input received on stdin");
    }
    text::JsonReadResult request = text::read_json(*line);
    if (!request.ok()) {
        return intake_failure("Invalid request JSON: " + request.error);
    }
    const auto action =
        request.value.is_object() ? request.value.find("action") : request.value.end();
    if (!request.value.is_object() || action == request.value.end() || !action->is_string() ||
        action->get_ref<const std::string&>().empty()) {
        return intake_failure("Missing action in request");
    }
    const auto params_member = request.value.find("params");
    const nlohmann::json params =
        params_member == request.value.end() ? nlohmann::json::object() : *params_member;
    const nlohmann::json result = dispatch(action->get<std::string>(), params);
    return IntakeOutcome{text::json_dump(result) + "\n", 0};
}

}  // namespace cua_entry
