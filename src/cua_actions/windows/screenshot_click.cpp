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
constexpr std::int64_t kMaxClicks = 3;
constexpr std::uint32_t kModifierSettleMs = 20;

// "clicks": absent gives 1; else a JSON integer from 1 to 3.
zelto::Result<int> read_click_count(const Json& params) {
    const Json* value = find_param(params, "clicks");
    if (value == nullptr) {
        return 1;
    }
    if (value->is_number_integer() && value->get<std::int64_t>() >= 1 &&
        value->get<std::int64_t>() <= kMaxClicks) {
        return static_cast<int>(value->get<std::int64_t>());
    }
    return zelto::fail("clicks must be 1, 2 or 3, got " + value->dump());
}

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
    // "right_click" is the right button whatever "button" says.
    const auto button = right_button ? zelto::Result<MouseButton>(MouseButton::right)
                                     : read_button(params, MouseButton::left);
    if (!button) {
        return error_result(button.error());
    }
    const auto clicks = read_click_count(params);
    if (!clicks) {
        return error_result(clicks.error());
    }
    const auto modifiers = read_modifiers(params);
    if (!modifiers) {
        return error_result(modifiers.error());
    }
    Platform& os = platform();
    os.set_cursor_pos(point.x, point.y);
    // Centres the ring on the point; the click never waits for it. A window
    // appearing under the pointer lets some systems re-read the keys from the
    // hardware (Wine from its X server), which would drop injected modifiers:
    // with modifiers the ring comes once they are let go.
    const auto show_ring = [&point] {
        show_click_indicator(minus_saturating(point.x, kClickIndicatorHalf),
                             minus_saturating(point.y, kClickIndicatorHalf));
    };
    if (modifiers->empty()) {
        show_ring();
    }
    // A double or triple click counts only when every press follows the one
    // before within the double-click time; the cursor stays on the point, so
    // the double-click rectangle holds too.
    std::uint32_t hold_ms = kClickHoldMs;
    if (*clicks > 1) {
        hold_ms = std::min<std::uint32_t>(kClickHoldMs, os.get_double_click_time() / 4);
    }
    os.sleep_ms(kClickSettleMs);
    // Modifiers go down once the pointer has settled: a system that learns of
    // the move late (Wine takes the key state from its X server's motion event)
    // must not see them as let up again.
    HeldKeys held;
    if (!modifiers->empty()) {
        held.press_all(*modifiers);
        os.sleep_ms(kModifierSettleMs);
    }
    const ButtonEvents events = button_events(*button);
    for (int i = 0; i < *clicks; ++i) {
        if (i > 0) {
            os.sleep_ms(hold_ms);
        }
        send_mouse_event(events.down, events.data);
        os.sleep_ms(hold_ms);
        send_mouse_event(events.up, events.data);
    }
    // Released only after the settle: a window may read the key state when it
    // takes the button messages from its queue, not when they were sent.
    os.sleep_ms(kClickAfterMs);
    held.release();
    if (!modifiers->empty()) {
        show_ring();
    }
    return ok_result(std::move(point.mapping));
}

}  // namespace cua_actions::windows
