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
         R"(zelto-cua-mcp takes --version, or --http [HOST:]PORT with --token-file FILE, --allow-origin ORIGIN and --allow-host HOST, or nothing; given: "-version")"},
        {{"--version", "x"},
         Action::refuse,
         R"(zelto-cua-mcp takes --version, or --http [HOST:]PORT with --token-file FILE, --allow-origin ORIGIN and --allow-host HOST, or nothing; given: "--version" "x")"},
        {{""},
         Action::refuse,
         R"(zelto-cua-mcp takes --version, or --http [HOST:]PORT with --token-file FILE, --allow-origin ORIGIN and --allow-host HOST, or nothing; given: "")"},
    };
    for (const Case& c : cases) {
        const CommandLine command = parse_command_line(c.arguments);
        EXPECT_EQ(command.action, c.action) << c.error;
        EXPECT_EQ(command.error, c.error);
    }
    EXPECT_EQ(version_line("1.2.3"), "zelto-cua-mcp 1.2.3");

    const CommandLine http = parse_command_line({"--http", "0.0.0.0:8765", "--allow-origin", "a",
                                                 "--token-file", "t", "--allow-origin", "b"});
    ASSERT_EQ(http.action, Action::serve);
    ASSERT_TRUE(http.http);
    EXPECT_EQ(http.http->listen, "0.0.0.0:8765");
    EXPECT_EQ(http.http->token_file, "t");
    EXPECT_EQ(http.http->origins, (std::vector<std::string>{"a", "b"}));
    for (const std::vector<std::string>& refused :
         std::vector<std::vector<std::string>>{{"--http"},
                                               {"--token-file", "t"},
                                               {"--http", "1", "--http", "2"},
                                               {"--http", "1", "-x", "y"}}) {
        EXPECT_EQ(parse_command_line(refused).action, Action::refuse) << refused[0];
    }
}

}  // namespace
}  // namespace mcp
