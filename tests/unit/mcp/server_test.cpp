#include "mcp/server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "text/text.h"

namespace mcp {
namespace {

using namespace std::chrono_literals;
using Outcome = ExecutorRun::Outcome;

constexpr auto kWait = 5s;  // only reached when something is wrong

// Collects the server's lines; waits for them to arrive from the worker.
class RecordingSink : public LineSink {
  public:
    void write_line(const std::string& line) override {
        std::lock_guard guard(mutex_);
        lines_.push_back(Json::parse(line));
        changed_.notify_all();
    }
    std::vector<Json> wait_for(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kWait, [&] { return lines_.size() >= count; });
        return lines_;
    }
    std::vector<Json> lines() {
        std::lock_guard guard(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Json> lines_;
};

// Stands in for the executor: each call blocks until released or cancelled.
class ScriptedRunner {
  public:
    ExecutorRun run(const Tool& tool, const std::string& request_line,
                    const std::atomic<bool>& cancelled) {
        std::unique_lock lock(mutex_);
        started_.push_back(std::string(tool.name) + " " + request_line);
        changed_.notify_all();
        // Polls the flag, as the real executor client does.
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (released_ == 0 && !cancelled.load() && std::chrono::steady_clock::now() < deadline) {
            changed_.wait_for(lock, 1ms);
        }
        if (cancelled.load()) {
            ++cancelled_runs_;
            return ExecutorRun{Outcome::cancelled, 0, {}, {}, {}};
        }
        --released_;
        return ExecutorRun{Outcome::finished, 0, "{\"ok\":true}\n", {}, {}};
    }
    void release() {
        std::lock_guard guard(mutex_);
        ++released_;
        changed_.notify_all();
    }
    // Waits until `count` calls have started; returns their requests.
    std::vector<std::string> wait_started(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kWait, [&] { return started_.size() >= count; });
        return started_;
    }
    int cancelled_runs() {
        std::lock_guard guard(mutex_);
        return cancelled_runs_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> started_;
    int released_ = 0;
    int cancelled_runs_ = 0;
};

std::string call(int id, const char* tool, const char* arguments = "{}") {
    return text::concat({R"({"jsonrpc":"2.0","id":)", std::to_string(id),
                         R"(,"method":"tools/call","params":{"name":")", tool, R"(","arguments":)",
                         arguments, "}}"});
}

Json ok_call_result(int id) {
    return Json{
        {"jsonrpc", "2.0"},
        {"id", id},
        {"result",
         Json{{"content", Json::array({Json{{"type", "text"}, {"text", "{\"ok\":true}"}}})}}}};
}

class ServerTest : public ::testing::Test {
  protected:
    RecordingSink sink;
    ScriptedRunner runner;
    Server server{sink,
                  [this](const Tool& tool, const std::string& line, const std::atomic<bool>& c) {
                      return runner.run(tool, line, c);
                  },
                  "1.2.3"};
};

TEST_F(ServerTest, AnswersBadLinesInOrderAndKeepsServing) {
    server.handle_line("this is not json");
    server.handle_line(R"({"id":1,"method":"ping"})");
    server.handle_line(R"({"jsonrpc":"2.0","id":2,"method":"no/such"})");
    server.handle_line("");
    server.handle_line(R"({"jsonrpc":"2.0","method":"notifications/initialized"})");
    server.handle_line(R"({"jsonrpc":"2.0","method":"no/such/notification"})");
    server.handle_line(R"({"jsonrpc":"2.0","id":3,"result":{}})");
    server.handle_line(R"([{"jsonrpc":"2.0","id":9,"method":"ping"}])");
    server.handle_line(R"({"jsonrpc":"2.0","id":4,"method":"ping"})");
    const std::vector<Json> lines = sink.lines();
    ASSERT_EQ(lines.size(), 5u) << "notifications, responses and blank lines get no answer";
    EXPECT_EQ(lines[0]["id"], nullptr);
    EXPECT_EQ(lines[0]["error"]["code"], kParseError);
    EXPECT_EQ(lines[1]["id"], 1);
    EXPECT_EQ(lines[1]["error"]["code"], kInvalidRequest);
    EXPECT_EQ(lines[2]["id"], 2);
    EXPECT_EQ(lines[2]["error"]["code"], kMethodNotFound);
    EXPECT_EQ(lines[3]["error"]["code"], kInvalidRequest);
    EXPECT_EQ(lines[4], (Json{{"jsonrpc", "2.0"}, {"id", 4}, {"result", Json::object()}}));
}

TEST_F(ServerTest, InitializeNegotiatesTheProtocolVersion) {
    struct Case {
        const char* params;
        const char* answered;
    };
    const Case cases[] = {
        {R"({"protocolVersion":"2025-11-25"})", "2025-11-25"},
        {R"({"protocolVersion":"2025-06-18"})", "2025-06-18"},
        {R"({"protocolVersion":"2025-03-26"})", "2025-03-26"},
        {R"({"protocolVersion":"2024-11-05"})", "2024-11-05"},
        {R"({"protocolVersion":"2024-10-07"})", "2025-11-25"},
        {R"({"protocolVersion":"2099-01-01"})", "2025-11-25"},
        {R"({"protocolVersion":20250618})", "2025-11-25"},
        {R"({})", "2025-11-25"},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        server.handle_line(R"({"jsonrpc":"2.0","id":)" + std::to_string(++id) +
                           R"(,"method":"initialize","params":)" + c.params + "}");
        const Json answer = sink.lines().back();
        EXPECT_EQ(answer["id"], id);
        EXPECT_EQ(answer["result"],
                  (Json{{"protocolVersion", c.answered},
                        {"capabilities", {{"tools", {{"listChanged", false}}}}},
                        {"serverInfo", {{"name", "zelto-cua"}, {"version", "1.2.3"}}}}));
    }
}

TEST_F(ServerTest, RefusesCallsThatCannotBeRun) {
    server.handle_line(call(1, "run_applescript", R"({"script":"x"})"));
    server.handle_line(call(2, "move", "[500,500]"));
    server.handle_line(R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":[]})");
    server.handle_line(R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":5}})");
    const std::vector<Json> lines = sink.lines();
    ASSERT_EQ(lines.size(), 4u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["id"], i + 1);
        EXPECT_EQ(lines[i]["error"]["code"], kInvalidParams);
    }
    EXPECT_EQ(lines[0]["error"]["message"], "Unknown tool: run_applescript");
    EXPECT_TRUE(runner.wait_started(0).empty());
}

TEST_F(ServerTest, RunsCallsOneAtATimeInArrivalOrderAndAnswersPingsMeanwhile) {
    server.handle_line(call(1, "move", R"({"position":[500,500]})"));
    server.handle_line(call(2, "press", R"({"key":"a"})"));
    server.handle_line(
        R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"check_permissions"}})");
    EXPECT_EQ(runner.wait_started(1).size(), 1u);
    server.handle_line(R"({"jsonrpc":"2.0","id":"p","method":"ping"})");
    EXPECT_EQ(sink.wait_for(1)[0]["id"], "p") << "a ping is answered while a call runs";
    EXPECT_EQ(runner.wait_started(1).size(), 1u) << "the second call waits for the first";

    runner.release();
    runner.release();
    runner.release();
    const std::vector<Json> lines = sink.wait_for(4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], ok_call_result(1));
    EXPECT_EQ(lines[2], ok_call_result(2));
    EXPECT_EQ(lines[3], ok_call_result(3));
    EXPECT_EQ(runner.wait_started(3),
              (std::vector<std::string>{
                  "move {\"action\":\"move\",\"params\":{\"position\":[500,500]}}\n",
                  "press {\"action\":\"press\",\"params\":{\"key\":\"a\"}}\n",
                  "check_permissions {\"action\":\"check_permissions\",\"params\":{}}\n"}));
}

TEST_F(ServerTest, CancelledCallsAreEndedAndNeverAnswered) {
    server.handle_line(call(1, "run_powershell", R"({"script":"Start-Sleep 30"})"));
    server.handle_line(call(2, "press", R"({"key":"a"})"));
    server.handle_line(call(3, "press", R"({"key":"b"})"));
    runner.wait_started(1);
    // The queued one first, then the running one.
    server.handle_line(
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":2}})");
    server.handle_line(
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1,"reason":"user"}})");
    const std::vector<std::string> started = runner.wait_started(2);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1], "press {\"action\":\"press\",\"params\":{\"key\":\"b\"}}\n");
    EXPECT_EQ(runner.cancelled_runs(), 1);
    // Cancelling what is not running or queued changes nothing.
    server.handle_line(
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":99}})");
    runner.release();
    const std::vector<Json> lines = sink.wait_for(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], ok_call_result(3));
}

TEST_F(ServerTest, AWaitEndsWhenCancelledAndWhenTheClientGoes) {
    server.handle_line(call(1, "wait", R"({"seconds":30})"));
    std::this_thread::sleep_for(50ms);  // the worker has taken it up
    server.handle_line(
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1}})");
    server.handle_line(call(2, "check_permissions"));
    runner.release();
    const std::vector<Json> lines = sink.wait_for(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], ok_call_result(2));
    // A client that goes in the middle of a wait does not keep the server 30 s.
    server.handle_line(call(3, "wait", R"({"seconds":30})"));
    std::future<void> closed = std::async(std::launch::async, [this] { server.close(); });
    EXPECT_EQ(closed.wait_for(kWait), std::future_status::ready);
}

TEST_F(ServerTest, LetsUpWhatWasHeldTooLong) {
    Server holding{sink,
                   [this](const Tool& tool, const std::string& line, const std::atomic<bool>& c) {
                       return runner.run(tool, line, c);
                   },
                   "1.2.3",
                   {},
                   50ms};
    runner.release();
    runner.release();
    holding.handle_line(call(1, "key_down", R"({"key":"shift"})"));
    // No call lets it up: the server does, by itself.
    const std::vector<std::string> started = runner.wait_started(2);
    holding.close();  // nothing is left to let up
    EXPECT_EQ(started, (std::vector<std::string>{
                           "key_down {\"action\":\"key_down\",\"params\":{\"keys\":[\"shift\"]}}\n",
                           "key_up {\"action\":\"key_up\",\"params\":{\"key\":\"shift\"}}\n"}));
    EXPECT_EQ(runner.wait_started(0).size(), 2u);
}

TEST_F(ServerTest, ClosingAnswersWhatIsQueued) {
    server.handle_line(call(1, "check_permissions"));
    server.handle_line(call(2, "check_permissions"));
    runner.release();
    runner.release();
    server.close();
    const std::vector<Json> lines = sink.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], ok_call_result(1));
    EXPECT_EQ(lines[1], ok_call_result(2));
}

}  // namespace
}  // namespace mcp
