#include "cua_actions/windows/screenshot_click.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "cua_actions/windows/click_indicator.h"
#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/typing_pointer.h"
#include "cua_actions/windows/ui_element_actions.h"

namespace cua_actions::windows {
namespace {

constexpr std::uint32_t kClickSettleMs = 50;
constexpr std::uint32_t kClickHoldMs = 50;
constexpr std::uint32_t kClickAfterMs = 100;

std::int32_t minus_saturating(std::int32_t value, std::int32_t amount) {
    return static_cast<std::int32_t>(std::max<std::int64_t>(
        std::int64_t{value} - amount, std::numeric_limits<std::int32_t>::min()));
}

}  // namespace

ActionResult handle_click(const Json& params, bool right_button) {
    ClickPoint point;
    if (find_param(params, "element") != nullptr) {
        // An element of the latest ui_elements, found again and checked first.
        auto target = element_click_point(params);
        if (!target) {
            return error_result(target.error());
        }
        point = std::move(*target);
    } else {
        const auto position = read_position(params, "position");
        if (!position) {
            return error_result("Missing position");
        }
        point = to_physical_click_point(*position, params);
    }
    Platform& os = platform();
    os.set_cursor_pos(point.x, point.y);
    // Centres the ring on the point; the click never waits for it.
    show_click_indicator(minus_saturating(point.x, kClickIndicatorHalf),
                         minus_saturating(point.y, kClickIndicatorHalf));
    os.sleep_ms(kClickSettleMs);
    send_mouse_event(right_button ? kMouseEventRightDown : kMouseEventLeftDown);
    os.sleep_ms(kClickHoldMs);
    send_mouse_event(right_button ? kMouseEventRightUp : kMouseEventLeftUp);
    os.sleep_ms(kClickAfterMs);
    return ok_result(std::move(point.mapping));
}

}  // namespace cua_actions::windows
