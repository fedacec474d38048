// Request intake over arbitrary standard input: always exactly one compact JSON line with
// "ok"; exit status 1 only for the four intake failures, which never reach the dispatcher;
// a dispatched request carries the first non-blank line's non-empty "action" and its
// "params" (an empty object when absent).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_check.h"
#include "main/intake.h"
#include "text/json_output.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace {

using nlohmann::json;

bool is_intake_message(const std::string& error) {
    return error == "Failed to read stdin" || error == "No input received on stdin" ||
           error == "Missing action in request" || error.starts_with("Invalid request JSON: ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    int calls = 0;
    std::string seen_action;
    json seen_params;
    const cua_entry::Dispatcher dispatch = [&](const std::string& action, const json& params) {
        ++calls;
        seen_action = action;
        seen_params = params;
        return json{{"ok", true}, {"data", {{"action", action}}}};
    };
    const cua_entry::IntakeOutcome outcome = cua_entry::handle_request(input, dispatch);

    FUZZ_CHECK(!outcome.line.empty() && outcome.line.back() == '\n');
    FUZZ_CHECK(outcome.line.find('\n') == outcome.line.size() - 1);
    const std::string_view body(outcome.line.data(), outcome.line.size() - 1);
    const text::JsonReadResult result = text::read_json(body);
    FUZZ_CHECK(result.ok() && result.value.is_object());
    FUZZ_CHECK(text::json_dump(result.value) == body);  // compact, keys in byte order
    const auto ok = result.value.find("ok");
    FUZZ_CHECK(ok != result.value.end() && ok->is_boolean());

    if (outcome.exit_status == 1) {
        FUZZ_CHECK(calls == 0);
        FUZZ_CHECK(*ok == false && result.value.size() == 2);
        const auto error = result.value.find("error");
        FUZZ_CHECK(error != result.value.end() && error->is_string());
        FUZZ_CHECK(is_intake_message(error->get<std::string>()));
        if (!text::is_valid_utf8(input)) {
            FUZZ_CHECK(*error == "Failed to read stdin");
        }
        return 0;
    }
    FUZZ_CHECK(outcome.exit_status == 0);
    FUZZ_CHECK(calls == 1);
    FUZZ_CHECK(text::is_valid_utf8(input));
    FUZZ_CHECK(!seen_action.empty());
    FUZZ_CHECK(result.value == json({{"ok", true}, {"data", {{"action", seen_action}}}}));

    // The request line is the first line that is not blank after trimming.
    std::string line;
    for (std::size_t start = 0; start <= input.size() && line.empty();) {
        std::size_t end = input.find('\n', start);
        end = end == std::string::npos ? input.size() : end;
        line = text::trim(std::string_view(input).substr(start, end - start));
        start = end + 1;
    }
    const text::JsonReadResult request = text::read_json(line);
    FUZZ_CHECK(request.ok() && request.value.is_object());
    FUZZ_CHECK(request.value.at("action") == seen_action);
    const auto params = request.value.find("params");
    FUZZ_CHECK(seen_params == (params == request.value.end() ? json::object() : *params));
    return 0;
}
