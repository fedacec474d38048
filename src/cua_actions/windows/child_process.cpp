#include "cua_actions/windows/child_process.h"

#include <utility>

namespace cua_actions::windows {
namespace {

// Both answers are ignored, except that a failed kill skips the wait, which
// could then never end.
void end_tree(Handle child) {
    if (platform().terminate_child_tree(child)) {
        platform().wait_child_exit(child);
    }
}

ChildRun ended(ChildRun::Outcome outcome, std::string error = {}) {
    ChildRun run;
    run.outcome = outcome;
    run.error = std::move(error);
    return run;
}

}  // namespace

ChildRun run_child(const ChildProcessLaunch& launch, const ChildRunOptions& options) {
    Platform& os = platform();
    const ChildStart start = os.start_child_process(launch);
    if (start.child == 0) {
        return ended(ChildRun::Outcome::start_failed, start.error);
    }
    const ScopedChildProcess child(start.child);

    const std::chrono::nanoseconds started = os.monotonic_now();
    while (true) {
        if (options.cancelled != nullptr && options.cancelled->load()) {
            end_tree(child.get());
            return ended(ChildRun::Outcome::cancelled);
        }
        const ChildStatus status = os.check_child_exit(child.get());
        if (status.state == ChildState::failed) {
            end_tree(child.get());
            return ended(ChildRun::Outcome::watch_failed, status.error);
        }
        if (status.state == ChildState::exited) {
            ChildOutput output = os.collect_child_output(child.get(), options.output_grace_ms);
            if (!output.ok) {
                return ended(ChildRun::Outcome::collect_failed, std::move(output.error));
            }
            ChildRun run;
            run.outcome = ChildRun::Outcome::exited;
            run.exit_code = status.exit_code;
            run.out = std::move(output.out);
            run.err = std::move(output.err);
            return run;
        }
        if (os.monotonic_now() - started >= options.time_limit) {
            end_tree(child.get());
            return ended(ChildRun::Outcome::timed_out);
        }
        os.sleep_ms(options.poll_ms);
    }
}

}  // namespace cua_actions::windows
