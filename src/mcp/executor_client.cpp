#include "mcp/executor_client.h"

#include "cua_actions/windows/child_process.h"

namespace mcp {

namespace cw = cua_actions::windows;

ExecutorRun run_executor(const std::string& program, const std::string& request_line,
                         std::chrono::milliseconds time_limit, const std::atomic<bool>& cancelled) {
    cw::ChildProcessLaunch launch;
    launch.program = program;
    launch.creation_flags = cw::kCreateNoWindow;
    // Never our own input: that is the client's message stream.
    launch.standard_input = request_line;
    cw::ChildRunOptions options;
    options.time_limit = time_limit;
    options.poll_ms = kExecutorPollMs;
    options.output_grace_ms = kExecutorOutputGraceMs;
    options.cancelled = &cancelled;
    cw::ChildRun child = cw::run_child(launch, options);

    ExecutorRun run;
    switch (child.outcome) {
        case cw::ChildRun::Outcome::exited:
            run.outcome = ExecutorRun::Outcome::finished;
            run.exit_code = child.exit_code;
            run.output = std::move(child.out);
            run.diagnostics = std::move(child.err);
            break;
        case cw::ChildRun::Outcome::timed_out:
            run.outcome = ExecutorRun::Outcome::timed_out;
            break;
        case cw::ChildRun::Outcome::cancelled:
            run.outcome = ExecutorRun::Outcome::cancelled;
            break;
        case cw::ChildRun::Outcome::start_failed:
            run.error = "could not start " + program + ": " + child.error;
            break;
        case cw::ChildRun::Outcome::watch_failed:
            run.error = "could not watch the executor: " + child.error;
            break;
        case cw::ChildRun::Outcome::collect_failed:
            run.error = "could not read the executor's result: " + child.error;
            break;
    }
    return run;
}

}  // namespace mcp
