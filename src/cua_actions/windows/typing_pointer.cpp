#include "cua_actions/windows/typing_pointer.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {
namespace {

constexpr std::int64_t kDefaultScrollAmount = 5;
constexpr std::int64_t kMaxScrollNotches = 25;
constexpr std::uint32_t kScrollSettleMs = 50;
constexpr std::uint32_t kScrollNotchMs = 3;

constexpr int kDragSteps = 30;
constexpr std::uint32_t kDragSettleMs = 50;
constexpr std::uint32_t kDragStepMs = 10;

// Only a JSON integer that fits in 64 signed bits counts; 3.0 does not.
std::int64_t scroll_amount(const Json& params) {
    const Json* amount = find_param(params, "amount");
    if (amount == nullptr) {
        return kDefaultScrollAmount;
    }
    if (amount->is_number_unsigned()) {
        const auto value = amount->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return kDefaultScrollAmount;
        }
        return static_cast<std::int64_t>(value);
    }
    if (amount->is_number_integer()) {
        return amount->get<std::int64_t>();
    }
    return kDefaultScrollAmount;
}

// Drag positions skip elements that are not numbers instead of failing.
std::vector<double> numbers_of(const Json& array) {
    std::vector<double> numbers;
    for (const Json& element : array) {
        if (element.is_number()) {
            numbers.push_back(element.get<double>());
        }
    }
    return numbers;
}

// Where a "direction" turns the wheel: which wheel and which sign.
struct ScrollAxis {
    std::uint32_t flags = kMouseEventWheel;
    std::int32_t sign = 1;
};

zelto::Result<std::optional<ScrollAxis>> read_scroll_direction(const Json& params) {
    const Json* value = find_param(params, "direction");
    if (value == nullptr) {
        return std::optional<ScrollAxis>();
    }
    constexpr std::pair<std::string_view, ScrollAxis> kDirections[] = {
        {"up", {kMouseEventWheel, 1}},
        {"down", {kMouseEventWheel, -1}},
        {"right", {kMouseEventHWheel, 1}},
        {"left", {kMouseEventHWheel, -1}},
    };
    if (value->is_string()) {
        for (const auto& [name, axis] : kDirections) {
            if (name == value->get_ref<const std::string&>()) {
                return std::optional<ScrollAxis>(axis);
            }
        }
    }
    return zelto::fail("Invalid direction: " + value->dump() + " (up, down, left or right)");
}

// "path": two or more points, each read as a drag position (non-numbers skipped).
zelto::Result<std::vector<std::vector<double>>> read_path(const Json& path) {
    if (!path.is_array() || path.size() < 2) {
        return zelto::fail("Invalid path: give two or more points");
    }
    std::vector<std::vector<double>> points;
    for (const Json& point : path) {
        std::vector<double> numbers = point.is_array() ? numbers_of(point) : std::vector<double>{};
        if (numbers.size() < 2) {
            return zelto::fail("Invalid path: every point needs two numbers");
        }
        points.push_back(std::move(numbers));
    }
    return points;
}

}  // namespace

std::optional<std::array<double, 2>> read_position(const Json& params, const char* key) {
    const Json* value = find_param(params, key);
    if (value == nullptr || !value->is_array() || value->size() < 2) {
        return std::nullopt;
    }
    for (const Json& element : *value) {
        if (!element.is_number()) {
            return std::nullopt;  // one non-number makes the whole position unusable
        }
    }
    return std::array<double, 2>{(*value)[0].get<double>(), (*value)[1].get<double>()};
}

void send_mouse_event(std::uint32_t flags, std::int32_t wheel_data) {
    const InputRecord record = InputRecord::mouse_event(flags, wheel_data);
    platform().send_input(std::span<const InputRecord>(&record, 1));  // count not examined
}

ActionResult handle_move(const Json& params) {
    const auto position = read_position(params, "position");
    if (!position) {
        return error_result("Missing position");
    }
    ClickPoint point = to_physical_click_point(*position, params);
    platform().set_cursor_pos(point.x, point.y);  // a refusal does not decide the outcome
    return ok_result(std::move(point.mapping));
}

ActionResult handle_scroll(const Json& params) {
    const auto position = read_position(params, "position");
    if (!position) {
        return error_result("Missing position");
    }
    const auto direction = read_scroll_direction(params);
    if (!direction) {
        return error_result(direction.error());
    }
    const auto modifiers = read_modifiers(params);
    if (!modifiers) {
        return error_result(modifiers.error());
    }
    const std::int64_t amount = scroll_amount(params);
    ClickPoint point = to_physical_click_point(*position, params);
    Platform& os = platform();
    os.set_cursor_pos(point.x, point.y);
    HeldKeys held;
    held.press_all(*modifiers);
    os.sleep_ms(kScrollSettleMs);

    // With a direction the amount counts notches that way; without one its sign is
    // the vertical direction.
    std::uint32_t flags = kMouseEventWheel;
    std::int32_t wheel_data = amount > 0 ? kWheelDelta : -kWheelDelta;
    if (*direction) {
        flags = (*direction)->flags;
        wheel_data = (*direction)->sign * kWheelDelta;
    }
    // Compared before negating: the magnitude of INT64_MIN does not fit.
    const std::int64_t notches = amount > kMaxScrollNotches || amount < -kMaxScrollNotches
                                     ? kMaxScrollNotches
                                     : std::llabs(amount);
    for (std::int64_t i = 0; i < notches; ++i) {
        send_mouse_event(flags, wheel_data);
        os.sleep_ms(kScrollNotchMs);
    }
    held.release();
    return ok_result(std::move(point.mapping));
}

ActionResult handle_drag(const Json& params) {
    // "path" takes the place of position1 and position2.
    std::vector<std::vector<double>> positions;
    const Json* path = find_param(params, "path");
    if (path != nullptr) {
        auto points = read_path(*path);
        if (!points) {
            return error_result(points.error());
        }
        positions = std::move(*points);
    } else {
        const Json* first = find_param(params, "position1");
        if (first == nullptr || !first->is_array()) {
            return error_result("Missing position1");
        }
        const Json* second = find_param(params, "position2");
        if (second == nullptr || !second->is_array()) {
            return error_result("Missing position2");
        }
        positions = {numbers_of(*first), numbers_of(*second)};
        if (positions[0].size() < 2 || positions[1].size() < 2) {
            return error_result("Invalid positions");
        }
    }
    const auto button = read_button(params, MouseButton::left);
    if (!button) {
        return error_result(button.error());
    }
    const auto modifiers = read_modifiers(params);
    if (!modifiers) {
        return error_result(modifiers.error());
    }

    std::vector<ClickPoint> points;
    for (const std::vector<double>& position : positions) {
        points.push_back(to_physical_click_point(position, params));
    }
    const ButtonEvents events = button_events(*button);
    Platform& os = platform();
    os.set_cursor_pos(points.front().x, points.front().y);
    HeldKeys held;
    held.press_all(*modifiers);
    os.sleep_ms(kDragSettleMs);
    send_mouse_event(events.down, events.data);
    os.sleep_ms(kDragSettleMs);

    // Each leg in the same 30 steps, from the point before to the next.
    for (std::size_t leg = 1; leg < points.size(); ++leg) {
        const double sx = points[leg - 1].x;
        const double sy = points[leg - 1].y;
        const double ex = points[leg].x;
        const double ey = points[leg].y;
        for (int i = 1; i <= kDragSteps; ++i) {
            const double t = static_cast<double>(i) / kDragSteps;
            os.set_cursor_pos(truncate_saturate32(sx + (ex - sx) * t),
                              truncate_saturate32(sy + (ey - sy) * t));
            send_mouse_event(kMouseEventMove);
            os.sleep_ms(kDragStepMs);
        }
    }

    os.set_cursor_pos(points.back().x, points.back().y);
    os.sleep_ms(kDragSettleMs);
    send_mouse_event(events.up, events.data);
    held.release();
    Json data{{"start", points.front().mapping}, {"end", points.back().mapping}};
    if (path != nullptr) {
        Json mappings = Json::array();
        for (ClickPoint& point : points) {
            mappings.push_back(std::move(point.mapping));
        }
        data["path"] = std::move(mappings);
    }
    return ok_result(std::move(data));
}

}  // namespace cua_actions::windows
