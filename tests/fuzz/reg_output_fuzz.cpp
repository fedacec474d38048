// Output of `reg query <App Paths key> /s /ve`, as any bytes: every entry has a usable
// index name taken from a key line and a target from its data; line ends written as CR LF
// change nothing; and no entry comes from a line without "REG_".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cua_actions/windows/app_index.h"
#include "fuzz_check.h"
#include "support/sim_desktop.h"
#include "text/text.h"

namespace {

using cua_actions::windows::WinAppEntry;

std::size_t count_value_lines(std::string_view output) {
    std::size_t count = 0;
    for (std::size_t start = 0; start <= output.size();) {
        std::size_t end = output.find('\n', start);
        end = end == std::string_view::npos ? output.size() : end;
        count += output.substr(start, end - start).find("REG_") != std::string_view::npos;
        start = end + 1;
    }
    return count;
}

std::string with_crlf(std::string_view output) {
    std::string result;
    for (char c : output) {
        if (c == '\n') {
            result += '\r';
        }
        result += c;
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::ScopedSimDesktop desktop;
    desktop->environment = {{"ProgramFiles", "C:\\Program Files"}, {"SystemRoot", "C:\\Windows"}};
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    const std::vector<WinAppEntry> entries = cua_actions::windows::win_parse_reg_app_paths(output);

    FUZZ_CHECK(entries.size() <= count_value_lines(output));
    for (const WinAppEntry& entry : entries) {
        FUZZ_CHECK(!entry.name.empty());
        FUZZ_CHECK(entry.name.find('\\') == std::string::npos);
        FUZZ_CHECK(text::trim(entry.name) == entry.name);
        FUZZ_CHECK(!cua_actions::windows::win_should_skip_app_name(entry.name));
        FUZZ_CHECK(text::is_valid_utf8(entry.name) && text::is_valid_utf8(entry.target));
        FUZZ_CHECK(!entry.target.empty());  // the data is not blank and every variable is set
        FUZZ_CHECK(entry.lnk_path.empty() && entry.args.empty());
    }
    // How invalid bytes are decoded is the decoder's business; valid UTF-8 is read as is.
    if (text::is_valid_utf8(output)) {
        FUZZ_CHECK(cua_actions::windows::win_parse_reg_app_paths(with_crlf(output)) == entries);
    }
    return 0;
}
