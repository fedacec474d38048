#include "mcp/command_line.h"

namespace mcp {
namespace {

CommandLine refusal(const std::vector<std::string>& arguments) {
    // A mistyped option must not start a server that silently ignores it.
    std::string error =
        "zelto-cua-mcp takes --version, or --http [HOST:]PORT with --token-file FILE, "
        "--allow-origin ORIGIN and --allow-host HOST, or nothing; given:";
    for (const std::string& argument : arguments) {
        error.append(" \"").append(argument).append("\"");
    }
    return {CommandLine::Action::refuse, error, std::nullopt};
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return {};
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        return {CommandLine::Action::print_version, "", std::nullopt};
    }
    HttpOptions http;
    bool listen_given = false;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size()) {
            return refusal(arguments);
        }
        const std::string& option = arguments[i];
        const std::string& value = arguments[i + 1];
        if (option == "--http" && !listen_given) {
            http.listen = value;
            listen_given = true;
        } else if (option == "--token-file" && http.token_file.empty()) {
            http.token_file = value;
        } else if (option == "--allow-origin") {
            http.origins.push_back(value);
        } else if (option == "--allow-host") {
            http.hosts.push_back(value);
        } else {
            return refusal(arguments);
        }
    }
    if (!listen_given) {
        return refusal(arguments);
    }
    return {CommandLine::Action::serve, "", std::move(http)};
}

std::string version_line(const std::string& version) {
    return "zelto-cua-mcp " + version;
}

}  // namespace mcp
