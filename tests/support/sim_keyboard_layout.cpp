// The double-click time and keyboard layouts of the simulated desktop.
#include <string_view>

#include "support/sim_desktop.h"

namespace sim {
namespace {

// What VkKeyScanExW answers on a US layout for the printable ASCII characters.
std::map<char16_t, std::int16_t> us_layout() {
    std::map<char16_t, std::int16_t> keys;
    const auto add = [&keys](char16_t character, int vk, int shift) {
        keys[character] = static_cast<std::int16_t>(vk | (shift << 8));
    };
    for (char c = 'a'; c <= 'z'; ++c) {
        add(static_cast<char16_t>(c), c - 'a' + 'A', 0);
        add(static_cast<char16_t>(c - 'a' + 'A'), c - 'a' + 'A', 1);
    }
    constexpr std::string_view digits = "0123456789";
    constexpr std::string_view shifted_digits = ")!@#$%^&*(";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        add(static_cast<char16_t>(digits[i]), digits[i], 0);
        add(static_cast<char16_t>(shifted_digits[i]), digits[i], 1);
    }
    constexpr std::string_view plain = "`-=[]\\;',./";
    constexpr std::string_view shifted = "~_+{}|:\"<>?";
    constexpr int oem_keys[] = {0xC0, 0xBD, 0xBB, 0xDB, 0xDD, 0xDC, 0xBA, 0xDE, 0xBC, 0xBE, 0xBF};
    for (std::size_t i = 0; i < plain.size(); ++i) {
        add(static_cast<char16_t>(plain[i]), oem_keys[i], 0);
        add(static_cast<char16_t>(shifted[i]), oem_keys[i], 1);
    }
    add(u' ', 0x20, 0);
    return keys;
}

}  // namespace

std::uint32_t SimDesktop::get_double_click_time() {
    auto guard = lock();
    return double_click_time_ms;
}

Handle SimDesktop::get_keyboard_layout(std::uint32_t thread_id) {
    auto guard = lock();
    const auto found = thread_layouts.find(thread_id);
    return found == thread_layouts.end() ? default_layout : found->second;
}

std::int16_t SimDesktop::vk_key_scan_ex(char16_t character, Handle layout) {
    auto guard = lock();
    layout_queries.push_back(layout);
    if (layout == default_layout && keyboard_layouts.count(layout) == 0) {
        keyboard_layouts[layout] = us_layout();
    }
    const auto& keys = keyboard_layouts[layout];
    const auto found = keys.find(character);
    return found == keys.end() ? std::int16_t{-1} : found->second;
}

}  // namespace sim
