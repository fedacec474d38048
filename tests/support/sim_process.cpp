// Scripted child processes of the simulated desktop: each child follows a
// SimChildScript in virtual time, so runners can be tested without programs.
#include "support/sim_desktop.h"

namespace sim {

using cua_actions::windows::ChildOutput;
using cua_actions::windows::ChildProcessLaunch;
using cua_actions::windows::ChildStart;
using cua_actions::windows::ChildState;
using cua_actions::windows::ChildStatus;

namespace {

// Child handles come from their own counter range, so a handle of another kind
// passed by mistake is refused.
constexpr Handle kFirstChildHandle = 0x1000;

SimChild* find_child(std::vector<SimChild>& children, Handle handle) {
    if (handle < kFirstChildHandle || handle - kFirstChildHandle >= children.size()) {
        return nullptr;
    }
    SimChild& child = children[handle - kFirstChildHandle];
    return child.closed ? nullptr : &child;
}

bool has_exited(const SimChild& child, std::uint64_t now_ms) {
    if (child.terminated_ms) {
        return true;
    }
    return child.script.exits_after_ms && now_ms >= child.started_ms + *child.script.exits_after_ms;
}

}  // namespace

std::size_t SimDesktop::open_children() const {
    std::size_t count = 0;
    for (const SimChild& child : children) {
        count += child.closed ? 0 : 1;
    }
    return count;
}

std::optional<std::string> SimDesktop::search_path(const std::string& file_name) {
    auto guard = lock();
    const auto found = path_programs.find(file_name);
    if (found == path_programs.end()) {
        return std::nullopt;
    }
    return found->second;
}

ChildStart SimDesktop::start_child_process(const ChildProcessLaunch& launch) {
    auto guard = lock();
    if (child_fail.start) {
        return ChildStart{0, *child_fail.start};
    }
    SimChild child;
    child.handle = kFirstChildHandle + children.size();
    child.launch = launch;
    if (!child_scripts.empty()) {
        child.script = child_scripts.front();
        child_scripts.erase(child_scripts.begin());
    }
    child.started_ms = now_ms();
    children.push_back(child);
    return ChildStart{child.handle, {}};
}

ChildStatus SimDesktop::check_child_exit(Handle handle) {
    auto guard = lock();
    SimChild* child = find_child(children, handle);
    if (child == nullptr) {
        return ChildStatus{ChildState::failed, 0, "invalid child handle"};
    }
    ++child->exit_checks;
    if (child_fail.check) {
        return ChildStatus{ChildState::failed, 0, *child_fail.check};
    }
    if (!has_exited(*child, now_ms())) {
        return ChildStatus{ChildState::running, 0, {}};
    }
    // TerminateJobObject's exit code, as the tree's processes report it.
    const std::uint32_t code = child->terminated_ms ? 1 : child->script.exit_code;
    return ChildStatus{ChildState::exited, code, {}};
}

bool SimDesktop::terminate_child_tree(Handle handle) {
    auto guard = lock();
    SimChild* child = find_child(children, handle);
    if (child == nullptr || child_fail.terminate) {
        return false;
    }
    if (!child->terminated_ms) {
        child->terminated_ms = now_ms();
    }
    return true;
}

bool SimDesktop::wait_child_exit(Handle handle) {
    auto guard = lock();
    SimChild* child = find_child(children, handle);
    if (child == nullptr) {
        return false;
    }
    ++child->waits;
    if (has_exited(*child, now_ms())) {
        return true;
    }
    if (!child->script.exits_after_ms) {
        return false;  // would block forever: report it instead of hanging the test
    }
    now_ns = (child->started_ms + *child->script.exits_after_ms) * 1'000'000;
    return true;
}

ChildOutput SimDesktop::collect_child_output(Handle handle, std::uint32_t grace_ms) {
    auto guard = lock();
    SimChild* child = find_child(children, handle);
    if (child == nullptr) {
        return ChildOutput{false, {}, {}, "invalid child handle"};
    }
    ++child->collects;
    if (child_fail.collect) {
        return ChildOutput{false, {}, {}, *child_fail.collect};
    }
    if (child->script.pipes_held && !child->terminated_ms) {
        now_ns += static_cast<std::uint64_t>(grace_ms) * 1'000'000;
    }
    return ChildOutput{true, child->script.out, child->script.err, {}};
}

void SimDesktop::close_child_process(Handle handle) {
    auto guard = lock();
    if (SimChild* child = find_child(children, handle)) {
        child->closed = true;
    }
}

}  // namespace sim
