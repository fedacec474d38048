#include "cua_actions/windows/child_io.h"

#include <gtest/gtest.h>

#include "support/sim_desktop.h"

namespace cua_actions::windows {
namespace {

TEST(ChildOutputText, Utf8AsIsOtherwiseTheOemCodePage) {
    sim::ScopedSimDesktop desktop;  // OEM code page 437
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"ascii", "C:\\Tools\\x.exe\r\n", "C:\\Tools\\x.exe\r\n"},
        // Read as code page 437 these two bytes would be "\u251c\u2310".
        {"valid utf-8 is not reread", "caf\xc3\xa9", "caf\xc3\xa9"},
        {"code page 437", "caf\x82", "caf\xc3\xa9"},
        {"one stray byte decides for the whole output", "\xc3\xa9 caf\x82",
         "\xe2\x94\x9c\xe2\x8c\x90 caf\xc3\xa9"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode_child_output(c.bytes), c.text) << c.name;
    }
}

TEST(ChildOutputText, FailedConversionReplacesInvalidSequences) {
    sim::ScopedSimDesktop desktop;
    desktop->code_page_conversion_fails = true;
    EXPECT_EQ(decode_child_output("caf\x82!"), "caf\xef\xbf\xbd!");
    desktop->code_page_conversion_fails = false;
    desktop->oem_code_page = 936;  // a code page the simulation cannot convert
    EXPECT_EQ(decode_child_output("\xcc\xda"), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(CommandLine, CountsUtf16UnitsOfTheQuotedLineAndItsNul) {
    // "\u00e9" is one unit (two bytes), U+1F600 two units (four bytes).
    const std::string program = "C:\\\xc3\xa9\xf0\x9f\x98\x80.exe";
    const std::vector<std::string> arguments{"-a", "b c", "d\"e"};
    const std::u16string_view line = u"\"C:\\\u00e9\U0001F600.exe\" -a \"b c\" \"d\\\"e\"";
    EXPECT_EQ(quote_command_line(program, arguments), line);
    EXPECT_EQ(command_line_units(program, arguments), 29u);  // 28 units and the NUL
}

}  // namespace
}  // namespace cua_actions::windows
