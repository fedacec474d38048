#include "mcp/executor_client.h"

#include <gtest/gtest.h>

#include "support/sim_desktop.h"

namespace mcp {
namespace {

using Outcome = ExecutorRun::Outcome;
using namespace std::chrono_literals;

constexpr char kExecutor[] = R"(C:\zelto\zelto-cua.exe)";
constexpr char kRequest[] = "{\"action\":\"move\",\"params\":{\"position\":[500,500]}}\n";

sim::SimChildScript exits_after(std::uint64_t ms, std::uint32_t code, std::string out) {
    sim::SimChildScript script;
    script.exits_after_ms = ms;
    script.exit_code = code;
    script.out = std::move(out);
    script.err = "[CUA-display-win] note\n";
    return script;
}

class ExecutorClientTest : public ::testing::Test {
  protected:
    ExecutorRun run(std::chrono::milliseconds limit = 30s, bool cancel = false) {
        const std::atomic<bool> cancelled{cancel};
        return run_executor(kExecutor, kRequest, limit, cancelled);
    }
    std::uint64_t elapsed_ms() { return desktop->now_ms() - started_ms_; }

    sim::ScopedSimDesktop desktop;
    std::uint64_t started_ms_ = desktop->now_ms();
};

TEST_F(ExecutorClientTest, HandsTheRequestToAHiddenChildAndReturnsWhatItPrinted) {
    desktop->child_scripts = {exits_after(120, 0, "{\"ok\":true}\n")};
    const ExecutorRun result = run();
    EXPECT_EQ(result.outcome, Outcome::finished);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.output, "{\"ok\":true}\n");
    EXPECT_EQ(result.diagnostics, "[CUA-display-win] note\n");
    ASSERT_EQ(desktop->children.size(), 1u);
    const sim::SimChild& child = desktop->children[0];
    EXPECT_EQ(child.launch.program, kExecutor);
    EXPECT_TRUE(child.launch.arguments.empty());
    EXPECT_EQ(child.launch.creation_flags, cua_actions::windows::kCreateNoWindow);
    // Our own standard input is the client's stream and must never reach the child.
    EXPECT_EQ(child.launch.standard_input, std::optional<std::string>(kRequest));
    EXPECT_FALSE(child.terminated_ms);
    EXPECT_TRUE(child.closed);
    // Polled, not slept on: the exit is seen within one interval.
    EXPECT_LT(elapsed_ms(), 120u + kExecutorPollMs + 1);
}

TEST_F(ExecutorClientTest, PassesTheIntakeExitStatusOn) {
    desktop->child_scripts = {exits_after(10, 1, "{\"error\":\"Missing action in request\"}\n")};
    const ExecutorRun result = run();
    EXPECT_EQ(result.outcome, Outcome::finished);
    EXPECT_EQ(result.exit_code, 1u);
}

TEST_F(ExecutorClientTest, EndsTheWholeJobAtTheTimeLimit) {
    sim::SimChildScript hangs;
    hangs.exits_after_ms = std::nullopt;
    desktop->child_scripts = {hangs};
    const ExecutorRun result = run(2000ms);
    EXPECT_EQ(result.outcome, Outcome::timed_out);
    ASSERT_EQ(desktop->children.size(), 1u);
    ASSERT_TRUE(desktop->children[0].terminated_ms);
    EXPECT_GE(*desktop->children[0].terminated_ms - started_ms_, 2000u);
    EXPECT_LT(*desktop->children[0].terminated_ms - started_ms_, 2000u + kExecutorPollMs + 1);
    EXPECT_TRUE(desktop->children[0].closed);
}

TEST_F(ExecutorClientTest, EndsTheJobWhenCancelled) {
    sim::SimChildScript hangs;
    hangs.exits_after_ms = std::nullopt;
    desktop->child_scripts = {hangs};
    const ExecutorRun result = run(30s, /*cancel=*/true);
    EXPECT_EQ(result.outcome, Outcome::cancelled);
    ASSERT_EQ(desktop->children.size(), 1u);
    EXPECT_TRUE(desktop->children[0].terminated_ms);
    EXPECT_LT(elapsed_ms(), 30000u);
}

TEST_F(ExecutorClientTest, OutputHeldOpenByALaunchedAppCostsOnlyTheGrace) {
    sim::SimChildScript launches = exits_after(300, 0, "{\"ok\":true}\n");
    launches.pipes_held = true;
    desktop->child_scripts = {launches};
    const ExecutorRun result = run();
    EXPECT_EQ(result.outcome, Outcome::finished);
    EXPECT_EQ(result.output, "{\"ok\":true}\n");
    EXPECT_LE(elapsed_ms(), 300u + kExecutorPollMs + kExecutorOutputGraceMs);
}

TEST_F(ExecutorClientTest, PlatformFailuresAreReported) {
    desktop->child_fail.start = "CreateProcessW failed: not found (2)";
    ExecutorRun result = run();
    EXPECT_EQ(result.outcome, Outcome::failed);
    EXPECT_NE(result.error.find("CreateProcessW failed: not found (2)"), std::string::npos);
    EXPECT_NE(result.error.find(kExecutor), std::string::npos);

    desktop->child_fail.start.reset();
    desktop->child_fail.check = "WaitForSingleObject failed (6)";
    sim::SimChildScript hangs;
    hangs.exits_after_ms = std::nullopt;
    desktop->child_scripts = {hangs};
    result = run();
    EXPECT_EQ(result.outcome, Outcome::failed);
    EXPECT_NE(result.error.find("WaitForSingleObject failed (6)"), std::string::npos);
    ASSERT_EQ(desktop->children.size(), 1u);
    EXPECT_TRUE(desktop->children[0].terminated_ms) << "a child we cannot watch is ended";

    desktop->child_fail.check.reset();
    desktop->child_fail.collect = "ReadFile failed (109)";
    desktop->child_scripts = {exits_after(5, 0, "{\"ok\":true}\n")};
    result = run();
    EXPECT_EQ(result.outcome, Outcome::failed);
    EXPECT_NE(result.error.find("ReadFile failed (109)"), std::string::npos);
}

}  // namespace
}  // namespace mcp
