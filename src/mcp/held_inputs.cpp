#include "mcp/held_inputs.h"

#include <algorithm>

namespace mcp {
namespace {

// The key names of a key_down or key_up request: its "keys", else its "key".
std::vector<std::string> key_names(const Json& params) {
    std::vector<std::string> names;
    if (const auto keys = params.find("keys"); keys != params.end() && keys->is_array()) {
        for (const Json& key : *keys) {
            if (key.is_string()) {
                names.push_back(key.get<std::string>());
            }
        }
    } else if (const auto key = params.find("key"); key != params.end() && key->is_string()) {
        names.push_back(key->get<std::string>());
    }
    return names;
}

std::string button_name(const Json& params) {
    const auto button = params.find("button");
    return button != params.end() && button->is_string() ? button->get<std::string>() : "left";
}

}  // namespace

void HeldInputs::forget(bool button, const std::string& name) {
    const auto found = std::find_if(held_.rbegin(), held_.rend(), [&](const Held& held) {
        return held.button == button && held.name == name;
    });
    if (found != held_.rend()) {
        held_.erase(std::next(found).base());
    }
}

void HeldInputs::note(std::string_view action, const Json& params, Clock::time_point now) {
    if (!params.is_object()) {
        return;
    }
    if (action == "mouse_down" || action == "mouse_up") {
        const std::string name = button_name(params);
        forget(true, name);  // pressed twice is still one button to let up
        if (action == "mouse_down") {
            held_.push_back(Held{true, name, now});
        }
    } else if (action == "key_down" || action == "key_up") {
        for (const std::string& name : key_names(params)) {
            forget(false, name);
            if (action == "key_down") {
                held_.push_back(Held{false, name, now});
            }
        }
    }
}

std::vector<std::string> HeldInputs::release_requests() {
    std::vector<std::string> lines;
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
        const Json request = it->button
                                 ? Json{{"action", "mouse_up"}, {"params", {{"button", it->name}}}}
                                 : Json{{"action", "key_up"}, {"params", {{"key", it->name}}}};
        lines.push_back(request.dump() + "\n");
    }
    held_.clear();
    return lines;
}

std::optional<HeldInputs::Clock::time_point> HeldInputs::deadline() const {
    if (held_.empty()) {
        return std::nullopt;
    }
    Clock::time_point oldest = held_.front().since;
    for (const Held& held : held_) {
        oldest = std::min(oldest, held.since);
    }
    return oldest + longest_hold_;
}

}  // namespace mcp
