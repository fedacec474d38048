// Key names and the two key actions over any names: a lookup trims first and never maps a
// blank name; a press is one down and one matching up 50 ms later or the unknown-key
// failure with no input; a combination releases every key it pressed, in reverse order,
// and leaves nothing held.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "cua_actions/windows/typing_pointer.h"
#include "fuzz_check.h"
#include "support/sim_desktop.h"
#include "text/text.h"

namespace {

namespace win = cua_actions::windows;
using cua_actions::Json;

struct KeyEvent {
    std::uint16_t vk;
    bool up;
};

std::vector<KeyEvent> key_events(const sim::SimDesktop& desktop) {
    std::vector<KeyEvent> events;
    for (const win::InputRecord& record : desktop.inputs()) {
        FUZZ_CHECK(record.type == win::kInputKeyboard);
        const win::KeyboardInput& key = record.keyboard;
        FUZZ_CHECK(key.scan == 0 && key.time == 0);
        FUZZ_CHECK((key.flags & ~(win::kKeyEventExtendedKey | win::kKeyEventKeyUp)) == 0);
        FUZZ_CHECK(((key.flags & win::kKeyEventExtendedKey) != 0) == win::is_extended_key(key.vk));
        events.push_back({key.vk, (key.flags & win::kKeyEventKeyUp) != 0});
    }
    return events;
}

Json fuzzed_key(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 7)) {
        case 0:
            return nullptr;
        case 1:
            return input.ConsumeIntegral<int>();
        default:
            return input.ConsumeRandomLengthString(24);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string name = input.ConsumeRandomLengthString(24);
    const auto code = win::win_key_name_to_vk(name);
    FUZZ_CHECK(code == win::win_key_name_to_vk(text::trim(name)));
    FUZZ_CHECK(!code || !text::trim(name).empty());

    {
        sim::ScopedSimDesktop desktop;
        const Json result = win::handle_press(Json{{"key", name}});
        const std::vector<KeyEvent> events = key_events(*desktop);
        if (result.at("ok") == true) {
            // The key, with the keys the layout needs held around it (released in reverse).
            const auto stroke = win::key_stroke_for(win::press_lookup_name(name));
            FUZZ_CHECK(stroke.has_value());
            const std::size_t held = stroke->held.size();
            FUZZ_CHECK(events.size() == 2 + 2 * held);
            FUZZ_CHECK(!events[held].up && events[held + 1].up);
            FUZZ_CHECK(events[held].vk == stroke->vk && events[held + 1].vk == stroke->vk);
            for (std::size_t i = 0; i < held; ++i) {
                FUZZ_CHECK(events[i].vk == stroke->held[i] && !events[i].up);
                FUZZ_CHECK(events[events.size() - 1 - i].vk == stroke->held[i]);
            }
            if (const auto named = win::win_key_name_to_vk(win::press_lookup_name(name))) {
                FUZZ_CHECK(*named == stroke->vk && held == 0);
            }
            FUZZ_CHECK(desktop->now_ms() == 50);
        } else {
            FUZZ_CHECK(events.empty());
            FUZZ_CHECK(result.at("error") == "Unknown key: " + win::press_lookup_name(name));
        }
    }

    sim::ScopedSimDesktop desktop;
    Json params = Json::object();
    int names = 0;
    for (const char* key : {"key1", "key2", "key3"}) {
        if (input.ConsumeBool()) {
            params[key] = fuzzed_key(input);
            names += params[key].is_string() ? 1 : 0;
        }
    }
    const Json result = win::handle_press_combination(params);
    const std::vector<KeyEvent> events = key_events(*desktop);
    if (names < 2) {
        FUZZ_CHECK(result.at("error") == "Need at least 2 keys" && events.empty());
        return 0;
    }
    FUZZ_CHECK((result == Json{{"ok", true}}));
    // Every press is released, the last pressed first.
    FUZZ_CHECK(events.size() % 2 == 0 && events.size() <= 12);
    const std::size_t half = events.size() / 2;
    for (std::size_t i = 0; i < half; ++i) {
        FUZZ_CHECK(!events[i].up && events[events.size() - 1 - i].up);
        FUZZ_CHECK(events[i].vk == events[events.size() - 1 - i].vk);
    }
    return 0;
}
