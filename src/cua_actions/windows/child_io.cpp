// Command lines for CreateProcessW and the text of a child's output.
#include "cua_actions/windows/child_io.h"

#include <optional>

#include "cua_actions/windows/platform.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

void append_quoted(std::u16string& line, std::u16string_view argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
        line.append(argument);
        return;
    }
    line.push_back(u'"');
    std::size_t backslashes = 0;
    for (char16_t unit : argument) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless they precede a quote: then doubled.
        line.append(unit == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        line.push_back(unit);
    }
    line.append(backslashes * 2, u'\\');  // before the closing quote
    line.push_back(u'"');
}

}  // namespace

std::u16string quote_command_line(const std::string& program,
                                  const std::vector<std::string>& arguments) {
    // The program name is read up to the next quote, without escapes.
    std::u16string line = u"\"";
    line += text::utf8_to_utf16(program);
    line += u'"';
    for (const std::string& argument : arguments) {
        line.push_back(u' ');
        append_quoted(line, text::utf8_to_utf16(argument));
    }
    return line;
}

std::size_t command_line_units(const std::string& program,
                               const std::vector<std::string>& arguments) {
    return quote_command_line(program, arguments).size() + 1;
}

std::string decode_child_output(std::string_view bytes) {
    if (text::is_valid_utf8(bytes)) {
        return std::string(bytes);
    }
    const std::optional<std::u16string> units =
        platform().multi_byte_to_wide_char(platform().get_oem_code_page(), bytes);
    if (!units) {
        return text::utf16_to_utf8(text::utf8_to_utf16(bytes));
    }
    return text::utf16_to_utf8(*units);
}

}  // namespace cua_actions::windows
