#include "mcp/command_line.h"

namespace mcp {

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return {};
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        return {CommandLine::Action::print_version, ""};
    }
    // A mistyped option must not start a server that silently ignores it.
    std::string error = "zelto-cua-mcp takes no arguments but --version; given:";
    for (const std::string& argument : arguments) {
        error.append(" \"").append(argument).append("\"");
    }
    return {CommandLine::Action::refuse, error};
}

std::string version_line(const std::string& version) {
    return "zelto-cua-mcp " + version;
}

}  // namespace mcp
