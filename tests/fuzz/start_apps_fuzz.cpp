// Output of the Start-apps query, as any bytes: an entry only ever comes from a text that
// is one whole JSON document (a NUL or anything else after it spoils it), and every entry
// opens its app id through explorer.exe under a usable name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cua_actions/windows/app_index.h"
#include "fuzz_check.h"
#include "support/sim_desktop.h"
#include "text/json_reader.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::ScopedSimDesktop desktop;
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    const auto entries = cua_actions::windows::win_parse_start_apps(output);

    constexpr std::string_view kArgsPrefix = "shell:AppsFolder\\";
    for (const auto& entry : entries) {
        FUZZ_CHECK(!entry.name.empty());
        FUZZ_CHECK(text::trim(entry.name) == entry.name);
        FUZZ_CHECK(!cua_actions::windows::win_should_skip_app_name(entry.name));
        FUZZ_CHECK(entry.target == "explorer.exe" && entry.lnk_path.empty());
        FUZZ_CHECK(entry.args.starts_with(kArgsPrefix) && entry.args.size() > kArgsPrefix.size());
        const std::string app_id = entry.args.substr(kArgsPrefix.size());
        FUZZ_CHECK(text::trim(app_id) == app_id);
        FUZZ_CHECK(text::is_valid_utf8(entry.name) && text::is_valid_utf8(entry.args));
    }
    // How invalid bytes are decoded is the decoder's business; valid UTF-8 is read as is.
    if (text::is_valid_utf8(output)) {
        const text::JsonReadResult document = text::read_json(text::trim(output));
        if (!document.ok()) {
            FUZZ_CHECK(entries.empty());
        } else {
            const std::size_t elements = document.value.is_array()    ? document.value.size()
                                         : document.value.is_object() ? 1
                                                                      : 0;
            FUZZ_CHECK(entries.size() <= elements);
        }
    }
    return 0;
}
