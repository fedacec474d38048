// The server's standard streams. Output is written as bytes (no text-mode
// CR LF); a GUI-subsystem process may have no standard handles at all.
#include <windows.h>

#include "cua_actions/windows/win32/win32_platform.h"
#include "mcp/stdio_transport.h"

namespace mcp {

void StdoutSink::write_line(const std::string& line) {
    namespace cw = cua_actions::windows;
    // A failed write means the client has gone; reading will end too.
    (void)cw::write_standard_stream(cw::StandardStream::output, line + "\n");
}

void serve_standard_input(Server& server) {
    const HANDLE handle = ::GetStdHandle(STD_INPUT_HANDLE);
    LineSplitter splitter;
    const auto on_line = [&server](std::string_view line) { server.handle_line(line); };
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        char buffer[64 * 1024];
        while (true) {
            DWORD read = 0;
            const bool ok = ::ReadFile(handle, buffer, sizeof(buffer), &read, nullptr) != FALSE;
            // A message-mode pipe hands a long message over in parts.
            const bool more = !ok && ::GetLastError() == ERROR_MORE_DATA;
            // Any other failure (the client closed its end) is the end of input.
            if ((!ok && !more) || read == 0) {
                break;
            }
            splitter.feed(std::string_view(buffer, read), on_line);
        }
    }
    splitter.finish(on_line);
    server.close();
}

}  // namespace mcp
