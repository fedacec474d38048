// The MCP session: lifecycle, tool listing and tool calls. Lines come in from
// the transport's reader; calls run one at a time, in arrival order, on a
// worker, so pings and cancellations are answered while an action runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "mcp/executor_client.h"
#include "mcp/held_inputs.h"
#include "mcp/jsonrpc.h"
#include "mcp/tool_call.h"
#include "mcp/tool_table.h"

namespace mcp {

// Where outgoing lines go (without their line feed). Called under the
// server's write lock, one line at a time.
class LineSink {
  public:
    virtual ~LineSink() = default;
    virtual void write_line(const std::string& line) = 0;
};

// Runs one call's request line; must return soon after `cancelled` turns true.
using CallRunner = std::function<ExecutorRun(const Tool& tool, const std::string& request_line,
                                             const std::atomic<bool>& cancelled)>;

// Protocol versions this server speaks, newest first.
inline constexpr std::string_view kProtocolVersions[] = {"2025-11-25", "2025-06-18", "2025-03-26",
                                                         "2024-11-05"};

// The client's version when we speak it, else our newest.
[[nodiscard]] std::string_view negotiate_protocol_version(const Json& initialize_params);

class Server {
  public:
    // `longest_hold`: how long a button or key put down may stay down before
    // the server lets it up by itself.
    Server(LineSink& out, CallRunner run_call, std::string version,
           ScreenshotSettings screenshots = {},
           HeldInputs::Clock::duration longest_hold = kLongestHold);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // One incoming line, without its line feed.
    void handle_line(std::string_view line);
    // The input has ended: answers the calls still queued, then stops the worker.
    void close();

  private:
    struct Call {
        Json id;
        const Tool* tool = nullptr;
        Json arguments;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };

    void handle_request(const Incoming& message);
    void handle_notification(const Incoming& message);
    void queue_call(const Incoming& message);
    void cancel(const Json& request_id);
    void send(const std::string& line);
    void work();
    // Lets up every button and key still held (the worker's alone).
    void release_held();

    HeldInputs held_;  // the worker's alone
    LineSink& out_;
    CallRunner run_call_;
    std::string version_;
    ToolCalls calls_;  // the worker's alone

    std::mutex write_mutex_;
    std::mutex queue_mutex_;  // guards everything below
    std::condition_variable queue_changed_;
    std::deque<Call> queue_;
    Json running_id_;  // null when no call runs
    std::shared_ptr<std::atomic<bool>> running_cancelled_;
    std::atomic<bool> closing_{false};  // also read by a running wait
    std::thread worker_;                // last: started once the members above exist
};

}  // namespace mcp
