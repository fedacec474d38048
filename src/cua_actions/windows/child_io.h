#pragma once
// What crosses a child program's boundary: the command line CreateProcessW
// receives, and the text of the output the child wrote to its pipes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cua_actions::windows {

// CreateProcessW accepts at most this many UTF-16 units of command line, its
// terminating NUL included. Windows refuses a longer line; Wine cuts it short
// and starts the program anyway.
inline constexpr std::size_t kMaxCommandLineUnits = 32767;

// The program in quotes, then each argument quoted so that CommandLineToArgvW
// and the C runtime split the line back into exactly these arguments.
std::u16string quote_command_line(const std::string& program,
                                  const std::vector<std::string>& arguments);

// What CreateProcessW counts for this launch: the quoted line plus its NUL.
std::size_t command_line_units(const std::string& program,
                               const std::vector<std::string>& arguments);

// A console program's redirected output as UTF-8. Bytes that are valid UTF-8
// are taken as they are; anything else was written in the OEM code page, as
// reg and Windows PowerShell do when their output is not a console. Should
// that conversion fail, invalid sequences become U+FFFD.
std::string decode_child_output(std::string_view bytes);

}  // namespace cua_actions::windows
