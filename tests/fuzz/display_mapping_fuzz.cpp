// Display selection and position mapping over any monitor layout, "display_id" text,
// "_screen" member and position: the chosen display is one of the listed ones, an id made
// from a display finds a display of that geometry, and the mapping report always agrees
// with itself (offsets within the source size, global point = origin + offset, saturated).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "cua_actions/windows/display_input.h"
#include "fuzz_check.h"
#include "support/sim_desktop.h"

namespace {

using cua_actions::Json;
using cua_actions::windows::DisplayInfo;

std::int32_t saturate(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

Json fuzzed_size(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0:
            return input.ConsumeFloatingPoint<double>();
        case 1:
            return input.ConsumeIntegral<std::int64_t>();
        case 2:
            return input.ConsumeRandomLengthString(8);
        case 3:
            return nullptr;
        default:
            return input.ConsumeIntegralInRange<int>(-5, 5000);
    }
}

// Fractions, thousandths or any finite number.
double fuzzed_coordinate(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 2)) {
        case 0:
            return input.ConsumeProbability<double>();
        case 1:
            return input.ConsumeIntegralInRange(-100, 6000);
        default:
            return input.ConsumeFloatingPoint<double>();
    }
}

bool same_geometry(const DisplayInfo& a, const DisplayInfo& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::ScopedSimDesktop desktop;
    desktop->monitors.clear();
    const int monitors = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < monitors; ++i) {
        sim::SimMonitor monitor;
        monitor.rect.left = input.ConsumeIntegral<std::int32_t>();
        monitor.rect.top = input.ConsumeIntegral<std::int32_t>();
        monitor.rect.right = input.ConsumeIntegral<std::int32_t>();
        monitor.rect.bottom = input.ConsumeIntegral<std::int32_t>();
        monitor.flags = input.ConsumeIntegralInRange<std::uint32_t>(0, 3);
        monitor.info_fails = input.ConsumeIntegralInRange(0, 7) == 0;
        desktop->monitors.push_back(monitor);
    }
    desktop->screen_cx = input.ConsumeIntegral<std::int32_t>();
    desktop->screen_cy = input.ConsumeIntegral<std::int32_t>();

    const std::vector<DisplayInfo> displays = cua_actions::windows::enumerate_displays();
    FUZZ_CHECK(!displays.empty());
    for (std::size_t i = 1; i < displays.size(); ++i) {
        const DisplayInfo& a = displays[i - 1];
        const DisplayInfo& b = displays[i];
        FUZZ_CHECK(a.x < b.x || (a.x == b.x && a.y <= b.y));
    }
    // Each display's own id names a display of the same geometry, exactly or nearest.
    for (const DisplayInfo& display : displays) {
        const std::string id = cua_actions::windows::format_display_id(display);
        const auto parsed = cua_actions::windows::parse_display_id(id);
        FUZZ_CHECK(parsed && *parsed == (std::vector<std::int32_t>{display.x, display.y,
                                                                   display.width, display.height}));
        const DisplayInfo chosen = cua_actions::windows::selected_display(Json{{"display_id", id}});
        FUZZ_CHECK(same_geometry(chosen, display));
        const DisplayInfo spaced =
            cua_actions::windows::selected_display(Json{{"display_id", " " + id + "\t"}});
        FUZZ_CHECK(same_geometry(spaced, display));
    }

    Json params = Json::object();
    if (input.ConsumeBool()) {
        params["display_id"] = input.ConsumeRandomLengthString(40);
    }
    if (input.ConsumeBool()) {
        Json screen = Json::object();
        for (const char* key : {"sourceWidth", "source_width", "sourceHeight", "source_height"}) {
            if (input.ConsumeBool()) {
                screen[key] = fuzzed_size(input);
            }
        }
        params["_screen"] = input.ConsumeIntegralInRange(0, 9) == 0 ? Json(7) : screen;
    }
    const double position[2] = {fuzzed_coordinate(input), fuzzed_coordinate(input)};

    const DisplayInfo chosen = cua_actions::windows::selected_display(params);
    FUZZ_CHECK(std::find(displays.begin(), displays.end(), chosen) != displays.end());
    const auto point = cua_actions::windows::to_physical_click_point(position, params);
    const Json& mapping = point.mapping;
    FUZZ_CHECK(mapping.at("physical") == mapping.at("display_relative"));
    FUZZ_CHECK(mapping.at("origin") == Json({chosen.x, chosen.y}));
    FUZZ_CHECK(mapping.at("screen") == Json({chosen.width, chosen.height}));
    FUZZ_CHECK(mapping.at("global") == Json({point.x, point.y}));
    for (int axis = 0; axis < 2; ++axis) {
        const double fraction = mapping.at("normalized")[axis].get<double>();
        const double source = mapping.at("sourceScreen")[axis].get<double>();
        const std::int64_t offset = mapping.at("physical")[axis].get<std::int64_t>();
        const std::int32_t origin = axis == 0 ? chosen.x : chosen.y;
        FUZZ_CHECK(fraction >= 0.0 && fraction <= 1.0);
        FUZZ_CHECK(std::isfinite(source));
        FUZZ_CHECK(offset >= 0 && static_cast<double>(offset) <= std::max(source - 1, 0.0));
        FUZZ_CHECK((axis == 0 ? point.x : point.y) == saturate(std::int64_t{origin} + offset));
    }
    return 0;
}
