#include "mcp/command_line.h"

#include <gtest/gtest.h>

namespace mcp {
namespace {

TEST(CommandLineTest, ServesWithoutArgumentsAndPrintsTheVersionOnlyForExactlyVersion) {
    using Action = CommandLine::Action;
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::string error;
    };
    const Case cases[] = {
        {{}, Action::serve, ""},
        {{"--version"}, Action::print_version, ""},
        {{"-version"},
         Action::refuse,
         R"(zelto-cua-mcp takes no arguments but --version; given: "-version")"},
        {{"--version", "x"},
         Action::refuse,
         R"(zelto-cua-mcp takes no arguments but --version; given: "--version" "x")"},
        {{""}, Action::refuse, R"(zelto-cua-mcp takes no arguments but --version; given: "")"},
    };
    for (const Case& c : cases) {
        const CommandLine command = parse_command_line(c.arguments);
        EXPECT_EQ(command.action, c.action) << c.error;
        EXPECT_EQ(command.error, c.error);
    }
    EXPECT_EQ(version_line("1.2.3"), "zelto-cua-mcp 1.2.3");
}

}  // namespace
}  // namespace mcp
