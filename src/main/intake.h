#pragma once
// Request intake and response output: one request in, one result line out.

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace cua_entry {

using Dispatcher =
    std::function<nlohmann::json(const std::string& action, const nlohmann::json& params)>;

struct IntakeOutcome {
    std::string line;  // compact JSON plus the line feed
    int exit_status = 0;
};

// `input` is everything read from standard input, or nothing when reading failed.
IntakeOutcome handle_request(const std::optional<std::string>& input, const Dispatcher& dispatch);

}  // namespace cua_entry
