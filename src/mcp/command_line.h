// What zelto-cua-mcp.exe's command line asks for. An MCP client starts the
// server without arguments (stdio); `--version` prints the version, and
// `--http [HOST:]PORT` serves Streamable HTTP instead, with the options that
// go with it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mcp {

struct HttpOptions {
    std::string listen;                // as given to --http
    std::string token_file;            // --token-file; empty: none
    std::vector<std::string> origins;  // --allow-origin, each time given
    std::vector<std::string> hosts;    // --allow-host, each time given
};

struct CommandLine {
    enum class Action { serve, print_version, refuse };
    Action action = Action::serve;
    std::string error;                // for refuse: the line to show on standard error
    std::optional<HttpOptions> http;  // serve: HTTP instead of stdio
};

// `arguments` excludes the program name.
[[nodiscard]] CommandLine parse_command_line(const std::vector<std::string>& arguments);

// The line `--version` prints.
[[nodiscard]] std::string version_line(const std::string& version);

}  // namespace mcp
