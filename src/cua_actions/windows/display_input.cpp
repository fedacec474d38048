#include "cua_actions/windows/display_input.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>

#include "text/text.h"

namespace cua_actions::windows {
namespace {

constexpr const char* kDisplayTag = "[CUA-display-win] ";

std::atomic<bool> g_dpi_done{false};
std::mutex g_dpi_mutex;

std::int32_t wrap32(std::int64_t value) {
    // Monitor extents use 32-bit arithmetic; wrap rather than invoke overflow.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

std::int32_t saturate32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool contains_origin(const DisplayInfo& display) {
    const std::int64_t x = display.x;
    const std::int64_t y = display.y;
    return x <= 0 && 0 < x + display.width && y <= 0 && 0 < y + display.height;
}

std::optional<std::int32_t> parse_int32(const std::string& part) {
    std::string_view digits = part;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t magnitude = 0;
    for (char c : digits) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > std::int64_t{1} << 32) {
            return std::nullopt;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

// The source size used for scaling: "_screen"'s primary key, else its
// alternative key (only when the primary key is absent), else the display size.
double source_size(const Json& params, const char* key, const char* alternative_key,
                   std::int32_t display_size) {
    const Json* screen = find_param(params, "_screen");
    if (screen != nullptr && screen->is_object()) {
        const Json* value = find_param(*screen, key);
        if (value == nullptr) {
            value = find_param(*screen, alternative_key);
        }
        if (value != nullptr && value->is_number()) {
            const double size = value->get<double>();
            if (std::isfinite(size) && size > 0) {
                return size;
            }
        }
    }
    return static_cast<double>(display_size);
}

// Values above 1 are thousandths; the result is clamped into 0..1.
double normalize(double value) {
    if (value > 1.0) {
        value = value / 1000.0;
    }
    if (value < 0) {
        value = 0;
    }
    if (value > 1.0) {
        value = 1.0;
    }
    return value;
}

// One enumerated display and the monitor it came from (0 for the fallback
// display of the screen metrics).
struct EnumeratedDisplay {
    DisplayInfo display;
    Handle monitor = 0;
};

bool sorts_before(const DisplayInfo& a, const DisplayInfo& b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
}

std::vector<EnumeratedDisplay> enumerate_with_monitors() {
    Platform& os = platform();
    std::vector<DisplayInfo> displays;
    std::vector<EnumeratedDisplay> enumerated;
    for (Handle monitor : os.enum_display_monitors()) {
        const std::size_t before = displays.size();
        const bool go_on = enum_display_proc(monitor, displays);
        if (displays.size() > before) {
            enumerated.push_back(EnumeratedDisplay{displays.back(), monitor});
        }
        if (!go_on) {
            break;
        }
    }
    if (enumerated.empty()) {
        enumerated.push_back(
            EnumeratedDisplay{DisplayInfo{0, 0, os.get_system_metrics(kSmCxScreen),
                                          os.get_system_metrics(kSmCyScreen), true},
                              0});
    }
    std::stable_sort(enumerated.begin(), enumerated.end(),
                     [](const EnumeratedDisplay& a, const EnumeratedDisplay& b) {
                         return sorts_before(a.display, b.display);
                     });
    return enumerated;
}

// Per-monitor awareness (v2, then v1) keeps every monitor in its own physical
// pixels; system awareness alone leaves monitors of another DPI virtualised.
bool request_per_monitor_awareness(Platform& os) {
    for (const DpiAwarenessContext context :
         {DpiAwarenessContext::per_monitor_aware_v2, DpiAwarenessContext::per_monitor_aware}) {
        const OptionalCall answer = os.set_process_dpi_awareness_context(context);
        if (answer == OptionalCall::accepted) {
            return true;
        }
        if (answer == OptionalCall::unavailable) {
            return false;
        }
    }
    return false;
}

void request_system_awareness(Platform& os) {
    if (!os.set_process_dpi_aware()) {
        const std::uint32_t code = os.get_last_error();
        if (code != 0) {
            os.write_stderr_line(text::concat(
                {kDisplayTag,
                 "SetProcessDPIAware failed or was already fixed: ", std::to_string(code)}));
        }
    }
}

std::int32_t pixel_offset(double source, double fraction) {
    const double rounded = std::round(source * fraction);  // halves away from zero
    if (!std::isfinite(rounded)) {
        return 0;
    }
    return truncate_saturate32(std::min(std::max(rounded, 0.0), std::max(source - 1, 0.0)));
}

}  // namespace

// Truncates toward zero, saturating at the 32-bit limits.
std::int32_t truncate_saturate32(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

void ensure_dpi_awareness() {
    if (g_dpi_done.load(std::memory_order_acquire)) {
        return;
    }
    std::lock_guard guard(g_dpi_mutex);
    if (g_dpi_done.load(std::memory_order_relaxed)) {
        return;
    }
    Platform& os = platform();
    if (!request_per_monitor_awareness(os)) {
        request_system_awareness(os);
    }
    g_dpi_done.store(true, std::memory_order_release);
}

void reset_dpi_awareness_for_testing() {
    g_dpi_done.store(false);
}

bool enum_display_proc(Handle monitor, std::vector<DisplayInfo>& displays) {
    const std::optional<MonitorInfo> info = platform().get_monitor_info(monitor);
    if (info) {
        const Rect& rect = info->monitor;
        displays.push_back(DisplayInfo{
            rect.left, rect.top, wrap32(std::int64_t{rect.right} - rect.left),
            wrap32(std::int64_t{rect.bottom} - rect.top), info->flags == kMonitorInfoFlagPrimary});
    }
    return true;
}

std::vector<DisplayInfo> enumerate_displays() {
    std::vector<DisplayInfo> displays;
    for (const EnumeratedDisplay& entry : enumerate_with_monitors()) {
        displays.push_back(entry.display);
    }
    return displays;
}

ActionResult handle_list_displays(const Json& /*params*/) {
    Platform& os = platform();
    Json displays = Json::array();
    for (const EnumeratedDisplay& entry : enumerate_with_monitors()) {
        const DisplayInfo& display = entry.display;
        Json listed{{"display_id", format_display_id(display)},
                    {"x", display.x},
                    {"y", display.y},
                    {"width", display.width},
                    {"height", display.height},
                    {"primary", display.primary}};
        if (entry.monitor != 0) {
            if (const auto dpi = os.get_dpi_for_monitor(entry.monitor)) {
                listed["scale"] = static_cast<double>(*dpi) / kDefaultDpi;
            }
        }
        displays.push_back(std::move(listed));
    }
    return ok_result(Json{{"displays", std::move(displays)}});
}

DisplayInfo default_display(const std::vector<DisplayInfo>& displays) {
    for (const DisplayInfo& display : displays) {
        if (display.primary) {
            return display;
        }
    }
    for (const DisplayInfo& display : displays) {
        if (contains_origin(display)) {
            return display;
        }
    }
    if (!displays.empty()) {
        return displays.front();
    }
    return DisplayInfo{0, 0, 1, 1, true};
}

std::string format_display_id(const DisplayInfo& display) {
    return std::to_string(display.x) + "," + std::to_string(display.y) + "," +
           std::to_string(display.width) + "," + std::to_string(display.height);
}

std::optional<std::vector<std::int32_t>> parse_display_id(const std::string& id) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = id.find(',', start);
        parts.push_back(
            id.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (parts.size() != 4) {
        return std::nullopt;
    }
    std::vector<std::int32_t> values;
    for (const std::string& part : parts) {
        const std::optional<std::int32_t> value = parse_int32(text::trim(part));
        if (!value) {
            return std::nullopt;
        }
        values.push_back(*value);
    }
    return values;
}

DisplayInfo selected_display(const Json& params) {
    const std::vector<DisplayInfo> displays = enumerate_displays();
    const std::string* raw_id = string_param(params, "display_id");
    if (raw_id == nullptr) {
        return default_display(displays);
    }
    const std::string id = text::trim(*raw_id);
    if (id.empty()) {
        return default_display(displays);
    }
    for (const DisplayInfo& display : displays) {
        if (format_display_id(display) == id) {
            return display;
        }
    }
    Platform& os = platform();
    if (const auto wanted = parse_display_id(id)) {
        const DisplayInfo* best = nullptr;
        std::int64_t best_score = 0;
        for (const DisplayInfo& display : displays) {
            const std::int64_t score = std::llabs(std::int64_t{display.x} - (*wanted)[0]) +
                                       std::llabs(std::int64_t{display.y} - (*wanted)[1]) +
                                       std::llabs(std::int64_t{display.width} - (*wanted)[2]) +
                                       std::llabs(std::int64_t{display.height} - (*wanted)[3]);
            if (best == nullptr || score < best_score) {
                best = &display;
                best_score = score;
            }
        }
        if (best != nullptr) {
            os.write_stderr_line(text::concat(
                {kDisplayTag, "fuzzy matched display_id=", id, " -> ", std::to_string(best->x), ",",
                 std::to_string(best->y), ",", std::to_string(best->width), "x",
                 std::to_string(best->height), " score=", std::to_string(best_score)}));
            return *best;
        }
    } else {
        os.write_stderr_line(
            text::concat({kDisplayTag, "display_id not found, fallback to primary display: ", id}));
    }
    return default_display(displays);
}

ClickPoint to_physical_click_point(std::span<const double> position, const Json& params) {
    const DisplayInfo display = selected_display(params);
    const double source_width = source_size(params, "sourceWidth", "source_width", display.width);
    const double source_height =
        source_size(params, "sourceHeight", "source_height", display.height);
    const double nx = normalize(position[0]);
    const double ny = normalize(position[1]);
    const std::int32_t dx = pixel_offset(source_width, nx);
    const std::int32_t dy = pixel_offset(source_height, ny);

    ClickPoint point;
    point.x = saturate32(std::int64_t{display.x} + dx);
    point.y = saturate32(std::int64_t{display.y} + dy);
    point.mapping = Json{
        {"display_relative", {dx, dy}},
        {"global", {point.x, point.y}},
        {"normalized", {nx, ny}},
        {"origin", {display.x, display.y}},
        {"physical", {dx, dy}},
        {"screen", {display.width, display.height}},
        {"sourceScreen", {source_width, source_height}},
    };
    return point;
}

}  // namespace cua_actions::windows
