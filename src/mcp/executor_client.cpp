#include "mcp/executor_client.h"

#include "cua_actions/windows/platform.h"

namespace mcp {

namespace cw = cua_actions::windows;

namespace {

// A failed kill skips the wait, which could then never end.
void end_job(cw::Handle child) {
    if (cw::platform().terminate_child_tree(child)) {
        cw::platform().wait_child_exit(child);
    }
}

ExecutorRun failed(std::string error) {
    ExecutorRun run;
    run.outcome = ExecutorRun::Outcome::failed;
    run.error = std::move(error);
    return run;
}

}  // namespace

ExecutorRun run_executor(const std::string& program, const std::string& request_line,
                         std::chrono::milliseconds time_limit, const std::atomic<bool>& cancelled) {
    cw::Platform& os = cw::platform();
    cw::ChildProcessLaunch launch;
    launch.program = program;
    launch.creation_flags = cw::kCreateNoWindow;
    // Never our own input: that is the client's message stream.
    launch.standard_input = request_line;
    const cw::ChildStart start = os.start_child_process(launch);
    if (start.child == 0) {
        return failed("could not start " + program + ": " + start.error);
    }
    const cw::ScopedChildProcess child(start.child);

    const std::chrono::nanoseconds started = os.monotonic_now();
    while (true) {
        if (cancelled.load()) {
            end_job(child.get());
            return ExecutorRun{ExecutorRun::Outcome::cancelled, 0, {}, {}, {}};
        }
        const cw::ChildStatus status = os.check_child_exit(child.get());
        if (status.state == cw::ChildState::failed) {
            end_job(child.get());
            return failed("could not watch the executor: " + status.error);
        }
        if (status.state == cw::ChildState::exited) {
            const cw::ChildOutput output =
                os.collect_child_output(child.get(), kExecutorOutputGraceMs);
            if (!output.ok) {
                return failed("could not read the executor's result: " + output.error);
            }
            return ExecutorRun{
                ExecutorRun::Outcome::finished, status.exit_code, output.out, output.err, {}};
        }
        if (os.monotonic_now() - started >= time_limit) {
            end_job(child.get());
            return ExecutorRun{ExecutorRun::Outcome::timed_out, 0, {}, {}, {}};
        }
        os.sleep_ms(kExecutorPollMs);
    }
}

}  // namespace mcp
