// The PowerShell guard and wrapper over any script bytes: the normal form has single inner
// spaces and no outer ones and is its own normal form; the verdict depends on the normal
// form only and survives text added before or after the script; the wrapper carries the
// script verbatim and its encoding decodes back to the wrapper's UTF-16LE units.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <fuzzer/FuzzedDataProvider.h>

#include "cua_actions/windows/app_powershell.h"
#include "fuzz_check.h"
#include "text/text.h"

namespace {

namespace ps = cua_actions::windows;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string around = input.ConsumeRandomLengthString(32);
    const std::string script = input.ConsumeRemainingBytesAsString();

    const std::string normal = ps::normalize_for_guard(script);
    FUZZ_CHECK(text::is_valid_utf8(normal));
    FUZZ_CHECK(normal.find("  ") == std::string::npos);
    FUZZ_CHECK(normal.empty() || (normal.front() != ' ' && normal.back() != ' '));
    FUZZ_CHECK(ps::normalize_for_guard(normal) == normal);

    const std::optional<std::string_view> verdict = ps::find_blocked_operation(script);
    FUZZ_CHECK(ps::find_blocked_operation(normal) == verdict);
    if (verdict) {
        FUZZ_CHECK(normal.find(*verdict) != std::string::npos);
        // Whatever stands around a blocked script, it stays blocked.
        FUZZ_CHECK(ps::find_blocked_operation(around + "\n" + script + "\n" + around));
        FUZZ_CHECK(ps::find_blocked_operation(around + "\t" + script));
    }

    const std::string wrapper = ps::build_powershell_wrapper(script);
    constexpr std::string_view kHead =
        "$ErrorActionPreference = 'Stop'\ntry {\n  $zeltoResult = & {\n";
    FUZZ_CHECK(wrapper.starts_with(kHead));
    FUZZ_CHECK(wrapper.compare(kHead.size(), script.size(), script) == 0);
    FUZZ_CHECK(wrapper.ends_with("} | ConvertTo-Json -Compress -Depth 6"));
    const std::optional<std::string> bytes =
        text::base64_decode(ps::encode_powershell_command(wrapper));
    FUZZ_CHECK(bytes && bytes->size() % 2 == 0);
    std::u16string units;
    for (std::size_t i = 0; i < bytes->size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>((*bytes)[i]) |
                                              static_cast<unsigned char>((*bytes)[i + 1]) << 8));
    }
    FUZZ_CHECK(units == text::utf8_to_utf16(wrapper));
    return 0;
}
