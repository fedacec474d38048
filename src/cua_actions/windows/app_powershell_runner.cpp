// One hidden PowerShell child: start, poll against the time limit, collect
// both outputs, and read the wrapper document it printed.
#include <string>

#include "cua_actions/windows/app_powershell.h"
#include "cua_actions/windows/child_io.h"
#include "cua_actions/windows/platform.h"
#include "text/json_reader.h"
#include "text/text.h"

namespace cua_actions::windows {
namespace {

ActionResult run_failure(std::string message) {
    return ActionResult{{"ok", false}, {"error", std::move(message)}, {"retryable", true}};
}

// UTF-8, or else the OEM code page PowerShell writes redirected output in;
// then Unicode white space is trimmed.
std::string decode_output(const std::string& bytes) {
    return text::trim(decode_child_output(bytes));
}

Json member_or_null(const Json& document, const char* key) {
    const Json* value = find_param(document, key);
    return value != nullptr ? *value : Json(nullptr);
}

// Kills the child's whole tree and waits for the child; both answers are
// ignored, except that a failed kill skips the wait, which could never end.
void kill_and_wait(Handle child) {
    if (platform().terminate_child_tree(child)) {
        platform().wait_child_exit(child);
    }
}

ActionResult read_wrapper_document(const ChildOutput& output) {
    const std::string out_text = decode_output(output.out);
    const std::string err_text = decode_output(output.err);
    // Strict over every byte: anything but white space after the document, a NUL
    // included, is a parse error.
    text::JsonReadResult parsed = text::read_json(out_text);
    if (!parsed.ok()) {
        std::string message = "PowerShell returned non-JSON output: " + out_text;
        if (!err_text.empty()) {
            message += "; stderr: " + err_text;
        }
        return run_failure(std::move(message));
    }
    const Json& document = parsed.value;
    const Json* ok = find_param(document, "ok");
    if (ok != nullptr && ok->is_boolean() && ok->get<bool>()) {
        const std::string* output_text = string_param(document, "output");
        return ok_result(Json{{"output", output_text != nullptr ? *output_text : ""}});
    }
    const std::string* error = string_param(document, "error");
    return ActionResult{{"ok", false},
                        {"error", error != nullptr ? *error : kPowerShellDefaultError},
                        {"category", member_or_null(document, "category")},
                        {"reason", member_or_null(document, "reason")},
                        {"stderr", err_text},
                        {"retryable", false}};
}

}  // namespace

ActionResult run_powershell_once(const std::string& encoded_command,
                                 std::chrono::seconds time_limit) {
    const std::optional<std::string> program = platform().search_path(kPowerShellProgram);
    if (!program) {
        return run_failure(text::concat({"PowerShell spawn failed: ", kPowerShellProgram,
                                         " was not found on the search path"}));
    }
    ChildProcessLaunch launch;
    launch.program = *program;
    launch.arguments = {"-NoProfile", "-NonInteractive", "-EncodedCommand", encoded_command};
    launch.creation_flags = kCreateNoWindow;
    // Refused here, before anything starts: Windows would refuse the line too,
    // but Wine starts PowerShell with the command cut short.
    const std::size_t units = command_line_units(launch.program, launch.arguments);
    if (units > kMaxCommandLineUnits) {
        return run_failure(text::concat(
            {"PowerShell spawn failed: the command line is ", std::to_string(units),
             " UTF-16 units long, over the limit of ", std::to_string(kMaxCommandLineUnits)}));
    }
    const ChildStart start = platform().start_child_process(launch);
    if (start.child == 0) {
        return run_failure("PowerShell spawn failed: " + start.error);
    }
    const ScopedChildProcess child(start.child);

    const std::chrono::nanoseconds started = platform().monotonic_now();
    while (true) {
        const ChildStatus status = platform().check_child_exit(child.get());
        if (status.state == ChildState::failed) {
            kill_and_wait(child.get());
            return run_failure("PowerShell wait failed: " + status.error);
        }
        if (status.state == ChildState::exited) {
            break;
        }
        if (platform().monotonic_now() - started >= time_limit) {
            kill_and_wait(child.get());
            return run_failure("PowerShell timed out after " + std::to_string(time_limit.count()) +
                               " seconds");
        }
        platform().sleep_ms(kPowerShellPollIntervalMs);
    }

    const ChildOutput output =
        platform().collect_child_output(child.get(), kPowerShellOutputGraceMs);
    if (!output.ok) {
        return run_failure("PowerShell wait_with_output failed: " + output.error);
    }
    return read_wrapper_document(output);
}

}  // namespace cua_actions::windows
