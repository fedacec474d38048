// Process entry of zelto-cua.exe: read the request from standard input,
// dispatch it, write one result line and exit with the intake status.

#include <windows.h>

#include <optional>
#include <string>

#include "cua_actions/dispatch.h"
#include "cua_actions/windows/win32/win32_platform.h"
#include "main/intake.h"
#include "main/stdin_reader.h"

namespace {

// Everything on standard input, or nothing when reading failed. A process
// started without a standard input handle reads as empty input.
std::optional<std::string> read_standard_input() {
    HANDLE handle = ::GetStdHandle(STD_INPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    return cua_entry::read_to_end([handle](char* buffer, std::size_t capacity) {
        using cua_entry::ReadOutcome;
        DWORD read = 0;
        if (::ReadFile(handle, buffer, static_cast<DWORD>(capacity), &read, nullptr)) {
            return cua_entry::ReadChunk{ReadOutcome::data, read};
        }
        switch (::GetLastError()) {
            case ERROR_MORE_DATA:  // a message-mode pipe's message is longer than the buffer
                return cua_entry::ReadChunk{ReadOutcome::more_data, read};
            case ERROR_BROKEN_PIPE:  // the writer closing its end is the ordinary end of input
            case ERROR_HANDLE_EOF:
                return cua_entry::ReadChunk{ReadOutcome::end, 0};
            default:
                return cua_entry::ReadChunk{ReadOutcome::failed, 0};
        }
    });
}

// Writes the result line as bytes (no text-mode CR LF). Without a standard
// output handle the line is dropped; a failed write ends the process abnormally.
void write_result_line(const std::string& line) {
    namespace cw = cua_actions::windows;
    if (cw::write_standard_stream(cw::StandardStream::output, line) == cw::StreamWrite::failed) {
        ::ExitProcess(3);
    }
}

}  // namespace

int main() {
    cua_actions::windows::set_platform(&cua_actions::windows::win32_platform());
    const cua_entry::IntakeOutcome outcome =
        cua_entry::handle_request(read_standard_input(), cua_actions::dispatch);
    write_result_line(outcome.line);
    return outcome.exit_status;
}
