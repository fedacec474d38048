// Runs one request of the one-shot executor as a child process: the request on
// its standard input, its result line read from its standard output, the whole
// job ended on time-out or cancellation.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace mcp {

struct ExecutorRun {
    enum class Outcome {
        finished,   // the executor exited; `exit_code` and `output` hold what it gave
        timed_out,  // ended by us at the time limit
        cancelled,  // ended by us on the client's request
        failed,     // could not be started or watched; `error` says why
    };
    Outcome outcome = Outcome::failed;
    std::uint32_t exit_code = 0;
    std::string output;
    std::string diagnostics;  // finished: the executor's standard error
    std::string error;
};

// How often a running executor is checked for exit, time-out and cancellation.
inline constexpr std::uint32_t kExecutorPollMs = 5;
// After the executor exited, how long its output pipe may stay open (an
// application it launched can hold it) before what arrived is taken as all.
inline constexpr std::uint32_t kExecutorOutputGraceMs = 250;

// `program` is the executor's full path; `request_line` ends in a line feed.
[[nodiscard]] ExecutorRun run_executor(const std::string& program, const std::string& request_line,
                                       std::chrono::milliseconds time_limit,
                                       const std::atomic<bool>& cancelled);

}  // namespace mcp
