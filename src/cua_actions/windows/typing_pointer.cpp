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
    const std::int64_t amount = scroll_amount(params);
    ClickPoint point = to_physical_click_point(*position, params);
    Platform& os = platform();
    os.set_cursor_pos(point.x, point.y);
    os.sleep_ms(kScrollSettleMs);

    const std::int32_t wheel_data = amount > 0 ? kWheelDelta : -kWheelDelta;
    // Compared before negating: the magnitude of INT64_MIN does not fit.
    const std::int64_t notches = amount > kMaxScrollNotches || amount < -kMaxScrollNotches
                                     ? kMaxScrollNotches
                                     : std::llabs(amount);
    for (std::int64_t i = 0; i < notches; ++i) {
        send_mouse_event(kMouseEventWheel, wheel_data);
        os.sleep_ms(kScrollNotchMs);
    }
    return ok_result(std::move(point.mapping));
}

ActionResult handle_drag(const Json& params) {
    const Json* first = find_param(params, "position1");
    if (first == nullptr || !first->is_array()) {
        return error_result("Missing position1");
    }
    const Json* second = find_param(params, "position2");
    if (second == nullptr || !second->is_array()) {
        return error_result("Missing position2");
    }
    const std::vector<double> start_numbers = numbers_of(*first);
    const std::vector<double> end_numbers = numbers_of(*second);
    if (start_numbers.size() < 2 || end_numbers.size() < 2) {
        return error_result("Invalid positions");
    }

    ClickPoint start = to_physical_click_point(start_numbers, params);
    ClickPoint end = to_physical_click_point(end_numbers, params);
    Platform& os = platform();
    os.set_cursor_pos(start.x, start.y);
    os.sleep_ms(kDragSettleMs);
    send_mouse_event(kMouseEventLeftDown);
    os.sleep_ms(kDragSettleMs);

    const double sx = start.x;
    const double sy = start.y;
    const double ex = end.x;
    const double ey = end.y;
    for (int i = 1; i <= kDragSteps; ++i) {
        const double t = static_cast<double>(i) / kDragSteps;
        os.set_cursor_pos(truncate_saturate32(sx + (ex - sx) * t),
                          truncate_saturate32(sy + (ey - sy) * t));
        send_mouse_event(kMouseEventMove);
        os.sleep_ms(kDragStepMs);
    }

    os.set_cursor_pos(end.x, end.y);
    os.sleep_ms(kDragSettleMs);
    send_mouse_event(kMouseEventLeftUp);
    return ok_result(Json{{"start", std::move(start.mapping)}, {"end", std::move(end.mapping)}});
}

}  // namespace cua_actions::windows
