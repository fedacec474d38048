// What zelto-cua-mcp.exe's command line asks for. An MCP client starts the
// server without arguments; `--version` is the one option.
#pragma once

#include <string>
#include <vector>

namespace mcp {

struct CommandLine {
    enum class Action { serve, print_version, refuse };
    Action action = Action::serve;
    std::string error;  // for refuse: the line to show on standard error
};

// `arguments` excludes the program name.
[[nodiscard]] CommandLine parse_command_line(const std::vector<std::string>& arguments);

// The line `--version` prints.
[[nodiscard]] std::string version_line(const std::string& version);

}  // namespace mcp
