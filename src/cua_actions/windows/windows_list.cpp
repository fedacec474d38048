// list_windows and focus_window.
#include "cua_actions/windows/windows_list.h"

#include <limits>

#include "cua_actions/windows/app_index.h"
#include "cua_actions/windows/app_launch.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

bool contains(const DisplayInfo& display, std::int64_t x, std::int64_t y) {
    return display.x <= x && x < std::int64_t{display.x} + display.width && display.y <= y &&
           y < std::int64_t{display.y} + display.height;
}

bool overlaps(const DisplayInfo& display, const Rect& rect) {
    return rect.left < std::int64_t{display.x} + display.width && display.x < rect.right &&
           rect.top < std::int64_t{display.y} + display.height && display.y < rect.bottom;
}

std::string file_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A pair of integers [a, b] from params, or nothing.
std::optional<std::pair<std::int32_t, std::int32_t>> int_pair(const Json& params, const char* key) {
    const Json* value = find_param(params, key);
    if (value == nullptr || !value->is_array() || value->size() != 2 ||
        !(*value)[0].is_number_integer() || !(*value)[1].is_number_integer()) {
        return std::nullopt;
    }
    const auto a = (*value)[0].get<std::int64_t>();
    const auto b = (*value)[1].get<std::int64_t>();
    constexpr auto lo = std::numeric_limits<std::int32_t>::min();
    constexpr auto hi = std::numeric_limits<std::int32_t>::max();
    if (a < lo || a > hi || b < lo || b > hi) {
        return std::nullopt;
    }
    return std::pair{static_cast<std::int32_t>(a), static_cast<std::int32_t>(b)};
}

bool flag(const Json& params, const char* key) {
    const Json* value = find_param(params, key);
    return value != nullptr && value->is_boolean() && value->get<bool>();
}

ActionResult close_window(Handle window) {
    Platform& os = platform();
    os.post_message(window, kWmClose, 0, 0);
    for (int round = 0; round < kCloseWaitRounds; ++round) {
        os.sleep_ms(kCloseWaitMs);
        if (!os.is_window(window)) {
            return ok_result(Json{{"closed", true}, {"id", window}});
        }
    }
    return error_result("Window " + std::to_string(window) + " did not close",
                        Json{{"closed", false}, {"id", window}});
}

}  // namespace

std::vector<Handle> win_visible_top_windows() {
    Platform& os = platform();
    std::vector<Handle> windows;
    for (Handle window = os.get_top_window(0); window != 0;
         window = os.get_window(window, kGwHwndNext)) {
        if (!os.is_window_visible(window)) {
            continue;
        }
        const std::optional<Rect> rect = os.get_window_rect(window);
        if (rect && rect->right > rect->left && rect->bottom > rect->top) {
            windows.push_back(window);
        }
    }
    return windows;
}

DisplayInfo win_display_of_rect(const Rect& rect, const std::vector<DisplayInfo>& displays) {
    const std::int64_t cx = (std::int64_t{rect.left} + rect.right) / 2;
    const std::int64_t cy = (std::int64_t{rect.top} + rect.bottom) / 2;
    for (const DisplayInfo& display : displays) {
        if (contains(display, cx, cy)) {
            return display;
        }
    }
    for (const DisplayInfo& display : displays) {
        if (overlaps(display, rect)) {
            return display;
        }
    }
    return default_display(displays);
}

Json win_window_json(Handle window, const std::vector<DisplayInfo>& displays) {
    Platform& os = platform();
    const Rect rect = os.get_window_rect(window).value_or(Rect{});
    const std::uint32_t pid = os.get_window_thread_process_id(window).process_id;
    const std::optional<std::string> image = os.get_process_image_name(pid);
    return Json{{"class", os.get_class_name(window)},
                {"display_id", format_display_id(win_display_of_rect(rect, displays))},
                {"foreground", os.get_foreground_window() == window},
                {"id", window},
                {"maximized", os.is_zoomed(window)},
                {"minimized", os.is_iconic(window)},
                {"pid", pid},
                {"process_name", image ? file_name_of(*image) : std::string()},
                {"rect", Json::array({rect.left, rect.top, rect.right, rect.bottom})},
                {"title", win_window_title(window)}};
}

zelto::Result<std::optional<Handle>> read_window_id(const Json& params) {
    const Json* value = find_param(params, "window_id");
    if (value == nullptr) {
        return std::optional<Handle>();
    }
    const bool positive = value->is_number_unsigned() ||
                          (value->is_number_integer() && value->get<std::int64_t>() > 0);
    if (!positive || value->get<std::uint64_t>() == 0) {
        return zelto::fail("Invalid window_id: expected a window id from list_windows");
    }
    const auto window = value->get<Handle>();
    if (!platform().is_window(window)) {
        return zelto::fail("No window with id " + std::to_string(window) + " (it may have closed)");
    }
    return std::optional<Handle>(window);
}

std::optional<Handle> win_find_window_by_title(const std::string& needle) {
    const std::string lowered = text::to_lower(needle);
    for (const Handle window : win_visible_top_windows()) {
        if (text::to_lower(win_window_title(window)).find(lowered) != std::string::npos) {
            return window;
        }
    }
    return std::nullopt;
}

ActionResult handle_list_windows(const Json& /*params*/) {
    const std::vector<DisplayInfo> displays = enumerate_displays();
    Json windows = Json::array();
    for (const Handle window : win_visible_top_windows()) {
        windows.push_back(win_window_json(window, displays));
    }
    return ok_result(Json{{"windows", std::move(windows)}});
}

ActionResult handle_focus_window(const Json& params) {
    const auto by_id = read_window_id(params);
    if (!by_id) {
        return error_result(by_id.error());
    }
    std::optional<Handle> window = *by_id;
    const std::string* title = string_param(params, "title");
    if (!window && title != nullptr && !text::trim(*title).empty()) {
        window = win_find_window_by_title(text::trim(*title));
        if (!window) {
            return error_result("No window title contains '" + *title + "'");
        }
    }
    if (!window) {
        return error_result("Missing window_id or title");
    }
    const auto move = int_pair(params, "move");
    const auto size = int_pair(params, "size");
    if ((find_param(params, "move") != nullptr && !move) ||
        (find_param(params, "size") != nullptr &&
         (!size || size->first <= 0 || size->second <= 0))) {
        return error_result("Invalid move or size: expected [x, y] and a positive [width, height]");
    }

    Platform& os = platform();
    if (flag(params, "close")) {
        return close_window(*window);
    }
    if (flag(params, "minimize")) {
        os.show_window(*window, kSwMinimize);
        os.sleep_ms(kRestoreSettleMs);
        return ok_result(win_window_json(*window, enumerate_displays()));
    }
    if (os.is_iconic(*window) || ((move || size) && os.is_zoomed(*window))) {
        os.show_window(*window, kSwRestore);
        os.sleep_ms(kRestoreSettleMs);
    }
    if (move || size) {
        const Rect rect = os.get_window_rect(*window).value_or(Rect{});
        const std::int32_t x = move ? move->first : rect.left;
        const std::int32_t y = move ? move->second : rect.top;
        const std::int32_t cx = size ? size->first : rect.right - rect.left;
        const std::int32_t cy = size ? size->second : rect.bottom - rect.top;
        os.set_window_pos(*window, 0, x, y, cx, cy, kSwpNoZOrder);
    }
    if (flag(params, "maximize")) {
        os.show_window(*window, kSwShowMaximized);
        os.sleep_ms(kMaximizeSettleMs);
    }
    const bool focused = win_bring_to_foreground(*window);
    Json data = win_window_json(*window, enumerate_displays());
    if (!focused) {
        return error_result("Window " + std::to_string(*window) + " did not come to the foreground",
                            std::move(data));
    }
    return ok_result(std::move(data));
}

}  // namespace cua_actions::windows
