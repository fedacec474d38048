// Code pages of the simulated desktop: the OEM code page a console program
// writes redirected output in, and MultiByteToWideChar for code page 437.
#include <array>

#include "support/sim_desktop.h"

namespace sim {
namespace {

constexpr std::uint32_t kCodePage437 = 437;

// Code page 437 above ASCII, as Windows maps it (bytes below 0x80 are ASCII).
constexpr std::array<char16_t, 128> kCodePage437High{
    u'\u00C7', u'\u00FC', u'\u00E9', u'\u00E2', u'\u00E4', u'\u00E0', u'\u00E5', u'\u00E7',
    u'\u00EA', u'\u00EB', u'\u00E8', u'\u00EF', u'\u00EE', u'\u00EC', u'\u00C4', u'\u00C5',
    u'\u00C9', u'\u00E6', u'\u00C6', u'\u00F4', u'\u00F6', u'\u00F2', u'\u00FB', u'\u00F9',
    u'\u00FF', u'\u00D6', u'\u00DC', u'\u00A2', u'\u00A3', u'\u00A5', u'\u20A7', u'\u0192',
    u'\u00E1', u'\u00ED', u'\u00F3', u'\u00FA', u'\u00F1', u'\u00D1', u'\u00AA', u'\u00BA',
    u'\u00BF', u'\u2310', u'\u00AC', u'\u00BD', u'\u00BC', u'\u00A1', u'\u00AB', u'\u00BB',
    u'\u2591', u'\u2592', u'\u2593', u'\u2502', u'\u2524', u'\u2561', u'\u2562', u'\u2556',
    u'\u2555', u'\u2563', u'\u2551', u'\u2557', u'\u255D', u'\u255C', u'\u255B', u'\u2510',
    u'\u2514', u'\u2534', u'\u252C', u'\u251C', u'\u2500', u'\u253C', u'\u255E', u'\u255F',
    u'\u255A', u'\u2554', u'\u2569', u'\u2566', u'\u2560', u'\u2550', u'\u256C', u'\u2567',
    u'\u2568', u'\u2564', u'\u2565', u'\u2559', u'\u2558', u'\u2552', u'\u2553', u'\u256B',
    u'\u256A', u'\u2518', u'\u250C', u'\u2588', u'\u2584', u'\u258C', u'\u2590', u'\u2580',
    u'\u03B1', u'\u00DF', u'\u0393', u'\u03C0', u'\u03A3', u'\u03C3', u'\u00B5', u'\u03C4',
    u'\u03A6', u'\u0398', u'\u03A9', u'\u03B4', u'\u221E', u'\u03C6', u'\u03B5', u'\u2229',
    u'\u2261', u'\u00B1', u'\u2265', u'\u2264', u'\u2320', u'\u2321', u'\u00F7', u'\u2248',
    u'\u00B0', u'\u2219', u'\u00B7', u'\u221A', u'\u207F', u'\u00B2', u'\u25A0', u'\u00A0',
};

}  // namespace

std::uint32_t SimDesktop::get_oem_code_page() {
    auto guard = lock();
    return oem_code_page;
}

std::optional<std::u16string> SimDesktop::multi_byte_to_wide_char(std::uint32_t code_page,
                                                                  std::string_view bytes) {
    auto guard = lock();
    // Windows knows many more; the simulation converts only this one.
    if (code_page_conversion_fails || code_page != kCodePage437) {
        return std::nullopt;
    }
    std::u16string units;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        units.push_back(value < 0x80 ? char16_t{value} : kCodePage437High[value - 0x80]);
    }
    return units;
}

}  // namespace sim
