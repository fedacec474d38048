// Every mouse button and key this server has put down and not yet let up, so
// that nothing stays held on the user's desktop: released in reverse order
// when the client goes, when the server ends, and when a hold has lasted too
// long.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mcp {

using Json = nlohmann::json;

// How long anything may stay held before the server lets it up by itself.
inline constexpr std::chrono::seconds kLongestHold{60};

class HeldInputs {
  public:
    using Clock = std::chrono::steady_clock;

    explicit HeldInputs(Clock::duration longest_hold = kLongestHold)
        : longest_hold_(longest_hold) {}

    // After an executor request succeeded: "mouse_down" and "key_down" add what
    // they put down, "mouse_up" and "key_up" forget what they let up; every
    // other action is ignored.
    void note(std::string_view action, const Json& params, Clock::time_point now);

    // Request lines (with their line feeds) that let everything up, the latest
    // first; nothing is held afterwards.
    [[nodiscard]] std::vector<std::string> release_requests();

    // When the oldest hold reaches the longest hold; none when nothing is held.
    [[nodiscard]] std::optional<Clock::time_point> deadline() const;
    [[nodiscard]] bool empty() const { return held_.empty(); }

  private:
    struct Held {
        bool button = false;  // a mouse button, else a key
        std::string name;
        Clock::time_point since;
    };
    void forget(bool button, const std::string& name);
    Clock::duration longest_hold_;
    std::vector<Held> held_;
};

}  // namespace mcp
