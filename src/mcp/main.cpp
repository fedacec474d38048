// Process entry of zelto-cua-mcp.exe: an MCP server over stdio whose tool
// calls each run one request of zelto-cua.exe.
#include <windows.h>

#include <string>
#include <vector>

#include "cua_actions/windows/platform.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "mcp/command_line.h"
#include "mcp/executor_client.h"
#include "mcp/screenshot_tool.h"
#include "mcp/server.h"
#include "mcp/stdio_transport.h"
#include "text/text.h"

namespace {

namespace cw = cua_actions::windows;

// Replaces the executor beside this program (tests point it elsewhere).
constexpr char kExecutorVariable[] = "ZELTO_CUA_MCP_EXECUTOR";
constexpr wchar_t kExecutorName[] = L"zelto-cua.exe";

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
    mcp::Server server(
        out,
        [&executor](const mcp::Tool& tool, const std::string& request_line,
                    const std::atomic<bool>& cancelled) {
            mcp::ExecutorRun run =
                mcp::run_executor(executor, request_line, tool.time_limit, cancelled);
            forward_diagnostics(run.diagnostics);
            return run;
        },
        ZELTO_VERSION,
        mcp::screenshot_settings_from_env(
            [](const std::string& name) { return cw::platform().get_env(name); },
            [](const std::string& line) { cw::platform().write_stderr_line(line); }));
    mcp::serve_standard_input(server);
    return 0;
}
