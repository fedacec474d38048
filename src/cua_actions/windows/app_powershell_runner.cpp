// One hidden PowerShell child, run against the time limit, and the wrapper
// document it printed.
#include <string>

#include "cua_actions/windows/app_powershell.h"
#include "cua_actions/windows/child_io.h"
#include "cua_actions/windows/child_process.h"
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

ActionResult read_wrapper_document(const std::string& out, const std::string& err) {
    const std::string out_text = decode_output(out);
    const std::string err_text = decode_output(err);
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
    ChildRunOptions options;
    options.time_limit = time_limit;
    options.poll_ms = kPowerShellPollIntervalMs;
    options.output_grace_ms = kPowerShellOutputGraceMs;
    const ChildRun run = run_child(launch, options);
    switch (run.outcome) {
        case ChildRun::Outcome::exited:
            break;
        case ChildRun::Outcome::start_failed:
            return run_failure("PowerShell spawn failed: " + run.error);
        case ChildRun::Outcome::watch_failed:
            return run_failure("PowerShell wait failed: " + run.error);
        case ChildRun::Outcome::timed_out:
        case ChildRun::Outcome::cancelled:  // never: this run has no cancel flag
            return run_failure("PowerShell timed out after " + std::to_string(time_limit.count()) +
                               " seconds");
        case ChildRun::Outcome::collect_failed:
            // The host's fixed text, whatever the runner's own calls are named.
            return run_failure("PowerShell wait_with_output failed: " + run.error);
    }
    return read_wrapper_document(run.out, run.err);
}

}  // namespace cua_actions::windows
