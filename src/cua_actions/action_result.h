#pragma once
// ActionResult: the JSON object every action returns. "ok" is always present,
// "error" exactly when "ok" is false, "data" for results that carry data.

#include <nlohmann/json.hpp>

#include <string>

namespace cua_actions {

using Json = nlohmann::json;
using ActionResult = nlohmann::json;

inline ActionResult ok_result() {
    return ActionResult{{"ok", true}};
}

inline ActionResult ok_result(Json data) {
    return ActionResult{{"ok", true}, {"data", std::move(data)}};
}

inline ActionResult error_result(std::string message) {
    return ActionResult{{"ok", false}, {"error", std::move(message)}};
}

inline ActionResult error_result(std::string message, Json data) {
    return ActionResult{{"ok", false}, {"error", std::move(message)}, {"data", std::move(data)}};
}

// Reads a text parameter; a value of any other JSON type counts as missing.
inline const std::string* string_param(const Json& params, const char* key) {
    if (!params.is_object()) {
        return nullptr;
    }
    const auto found = params.find(key);
    if (found == params.end() || !found->is_string()) {
        return nullptr;
    }
    return &found->get_ref<const std::string&>();
}

// Looks up a member of any type; nullptr when params is not an object or lacks it.
inline const Json* find_param(const Json& params, const char* key) {
    if (!params.is_object()) {
        return nullptr;
    }
    const auto found = params.find(key);
    return found == params.end() ? nullptr : &*found;
}

}  // namespace cua_actions
