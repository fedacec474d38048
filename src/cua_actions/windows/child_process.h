#pragma once
// One child program run to its end: started, watched against a time limit and a
// cancel flag, its whole tree ended when either runs out, and both outputs
// collected once it exited. Every caller that runs a child goes through here.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "cua_actions/windows/platform.h"

namespace cua_actions::windows {

struct ChildRunOptions {
    std::chrono::milliseconds time_limit{0};
    std::uint32_t poll_ms = 0;  // how often exit, time limit and cancellation are checked
    // After the child exited, how long its pipes may stay open (a program it
    // started can hold their write ends) before what arrived is taken as all.
    std::uint32_t output_grace_ms = 0;
    const std::atomic<bool>* cancelled = nullptr;  // none: the run cannot be cancelled
};

struct ChildRun {
    enum class Outcome {
        exited,          // `exit_code`, `out` and `err` hold what the child gave
        timed_out,       // ended, tree and all, at the time limit
        cancelled,       // ended, tree and all, when the cancel flag was set
        start_failed,    // `error`: the platform's text
        watch_failed,    // the exit check failed; the tree was ended
        collect_failed,  // the child exited but its output could not be read
    };
    Outcome outcome = Outcome::start_failed;
    std::uint32_t exit_code = 0;
    std::string out;
    std::string err;
    std::string error;
};

[[nodiscard]] ChildRun run_child(const ChildProcessLaunch& launch, const ChildRunOptions& options);

}  // namespace cua_actions::windows
