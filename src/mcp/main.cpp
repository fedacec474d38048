// Process entry of zelto-cua-mcp.exe: an MCP server over stdio, or over
// Streamable HTTP with --http, whose tool calls each run one request of
// zelto-cua.exe.
#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "mcp/command_line.h"
#include "mcp/executor_client.h"
#include "mcp/http_transport.h"
#include "mcp/screenshot_tool.h"
#include "mcp/server.h"
#include "mcp/stdio_transport.h"
#include "text/text.h"

namespace {

namespace cw = cua_actions::windows;

// Replaces the executor beside this program (tests point it elsewhere).
constexpr char kExecutorVariable[] = "ZELTO_CUA_MCP_EXECUTOR";
constexpr wchar_t kExecutorName[] = L"zelto-cua.exe";
// The HTTP transport's token, unless --token-file names a file holding it.
constexpr char kTokenVariable[] = "ZELTO_CUA_MCP_TOKEN";

std::string own_folder_executor() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), path.size());
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // truncated: a long path
    }
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + kExecutorName;
    return text::utf16_to_utf8(std::u16string(path.begin(), path.end()));
}

// The executor's tagged lines are ours to show: standard error is for diagnostics.
void forward_diagnostics(const std::string& bytes) {
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        std::size_t end = bytes.find('\n', begin);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        const std::string line = text::trim(bytes.substr(begin, end - begin));
        if (!line.empty()) {
            cw::platform().write_stderr_line(line);
        }
        begin = end + 1;
    }
}

void log_line(const std::string& line) {
    cw::platform().write_stderr_line(line);
}

// --http's options as the checks read them; the token never reaches a log line.
zelto::Result<mcp::HttpPolicy> http_policy(const mcp::HttpOptions& options) {
    zelto::Result<mcp::ListenAddress> listen = mcp::parse_listen_address(options.listen);
    if (!listen) {
        return zelto::fail("[CUA-mcp] " + listen.error());
    }
    mcp::HttpPolicy policy{*listen, "", options.origins, options.hosts};
    if (!options.token_file.empty()) {
        std::ifstream file(options.token_file, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        policy.token = text::trim(content.str());
        if (!file || policy.token.empty()) {
            return zelto::fail("[CUA-mcp] --token-file " + options.token_file +
                               " cannot be read or holds no token");
        }
    } else {
        policy.token = text::trim(cw::platform().get_env(kTokenVariable).value_or(""));
    }
    if (zelto::Status usable = mcp::check_policy(policy); !usable) {
        return zelto::fail(usable.error());
    }
    return policy;
}

}  // namespace

int main(int argc, char** argv) {
    cw::set_platform(&cw::win32_platform());
    mcp::StdoutSink out;
    const mcp::CommandLine command = mcp::parse_command_line(
        argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>());
    switch (command.action) {
        case mcp::CommandLine::Action::print_version:
            out.write_line(mcp::version_line(ZELTO_VERSION));
            return 0;
        case mcp::CommandLine::Action::refuse:
            cw::platform().write_stderr_line(command.error);
            return 2;
        case mcp::CommandLine::Action::serve:
            break;
    }
    std::string executor = cw::platform().get_env(kExecutorVariable).value_or("");
    if (executor.empty()) {
        executor = own_folder_executor();
    }
    const mcp::CallRunner run_call = [&executor](const mcp::Tool& tool,
                                                 const std::string& request_line,
                                                 const std::atomic<bool>& cancelled) {
        mcp::ExecutorRun run =
            mcp::run_executor(executor, request_line, tool.time_limit, cancelled);
        forward_diagnostics(run.diagnostics);
        return run;
    };
    const mcp::ScreenshotSettings screenshots = mcp::screenshot_settings_from_env(
        [](const std::string& name) { return cw::platform().get_env(name); }, log_line);
    if (command.http) {
        const zelto::Result<mcp::HttpPolicy> policy = http_policy(*command.http);
        if (!policy) {
            log_line(policy.error());
            return 2;
        }
        const mcp::ServerFactory make_server = [&](mcp::LineSink& sink) {
            return std::make_unique<mcp::Server>(sink, run_call, ZELTO_VERSION, screenshots);
        };
        const std::function<void(const std::string&)> log = log_line;
        if (zelto::Status served = mcp::serve_http(*policy, make_server, log); !served) {
            log_line(served.error());
            return 1;
        }
        return 0;
    }
    mcp::Server server(out, run_call, ZELTO_VERSION, screenshots);
    mcp::serve_standard_input(server);
    return 0;
}
