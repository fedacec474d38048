#include "support/sim_desktop.h"

#include <stdexcept>

namespace sim {

namespace {
// Monitor handles are 1-based indexes into the monitor list, like counters in a fake.
Handle monitor_handle(std::size_t index) {
    return static_cast<Handle>(index + 1);
}
}  // namespace

SimDesktop::SimDesktop() {
    monitors.push_back(
        SimMonitor{Rect{0, 0, 1920, 1080}, cua_actions::windows::kMonitorInfoFlagPrimary});
}

std::vector<InputRecord> SimDesktop::inputs() const {
    std::vector<InputRecord> result;
    for (const SimEvent& event : events) {
        if (event.kind == SimEvent::Kind::input) {
            result.push_back(event.input);
        }
    }
    return result;
}

void SimDesktop::sleep_ms(std::uint32_t ms) {
    auto guard = lock();
    now_ns += static_cast<std::uint64_t>(ms) * 1'000'000;
}

std::chrono::nanoseconds SimDesktop::monotonic_now() {
    auto guard = lock();
    return std::chrono::nanoseconds(now_ns);
}

bool SimDesktop::set_process_dpi_aware() {
    auto guard = lock();
    ++dpi_calls;
    if (fail.set_process_dpi_aware) {
        last_error_ = fail.dpi_error_code;
        return false;
    }
    return true;
}

cua_actions::windows::OptionalCall SimDesktop::set_process_dpi_awareness_context(
    cua_actions::windows::DpiAwarenessContext context) {
    auto guard = lock();
    if (!has_dpi_awareness_context) {
        return cua_actions::windows::OptionalCall::unavailable;
    }
    dpi_context_requests.push_back(context);
    const SimDpiContextAnswer answer = dpi_context_answers[context];
    if (answer.result == cua_actions::windows::OptionalCall::refused) {
        last_error_ = answer.error_code;
    }
    return answer.result;
}

std::optional<std::uint32_t> SimDesktop::get_dpi_for_monitor(Handle monitor) {
    auto guard = lock();
    if (!has_get_dpi_for_monitor || monitor == 0 || monitor > monitors.size()) {
        return std::nullopt;
    }
    return monitors[monitor - 1].dpi;
}

std::uint32_t SimDesktop::get_last_error() {
    auto guard = lock();
    return last_error_;
}

std::vector<Handle> SimDesktop::enum_display_monitors() {
    auto guard = lock();
    std::vector<Handle> handles;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        handles.push_back(monitor_handle(i));
    }
    return handles;
}

std::optional<MonitorInfo> SimDesktop::get_monitor_info(Handle monitor) {
    auto guard = lock();
    if (monitor == 0 || monitor > monitors.size()) {
        return std::nullopt;
    }
    const SimMonitor& sim_monitor = monitors[monitor - 1];
    if (sim_monitor.info_fails) {
        return std::nullopt;
    }
    return MonitorInfo{sim_monitor.rect, sim_monitor.rect, sim_monitor.flags};
}

int SimDesktop::get_system_metrics(int index) {
    auto guard = lock();
    switch (index) {
        case cua_actions::windows::kSmCxScreen:
            return screen_cx;
        case cua_actions::windows::kSmCyScreen:
            return screen_cy;
        default:
            return 0;
    }
}

bool SimDesktop::set_cursor_pos(std::int32_t x, std::int32_t y) {
    auto guard = lock();
    if (fail.set_cursor_pos_throws) {
        throw std::runtime_error("simulated SetCursorPos exception");
    }
    if (fail.set_cursor_pos) {
        return false;
    }
    cursor = Point{x, y};
    SimEvent event;
    event.kind = SimEvent::Kind::cursor;
    event.at_ms = now_ms();
    event.cursor = cursor;
    events.push_back(event);
    return true;
}

std::optional<Point> SimDesktop::get_cursor_pos() {
    auto guard = lock();
    return cursor;
}

std::uint32_t SimDesktop::send_input(std::span<const InputRecord> records) {
    auto guard = lock();
    const std::size_t batch = send_input_calls++;
    if (fail.send_input) {
        return 0;
    }
    if (fail.send_input_accepts && records.size() > *fail.send_input_accepts) {
        records = records.first(*fail.send_input_accepts);
    }
    for (const InputRecord& record : records) {
        SimEvent event;
        event.kind = SimEvent::Kind::input;
        event.at_ms = now_ms();
        event.input = record;
        event.batch = batch;
        events.push_back(event);
    }
    return static_cast<std::uint32_t>(records.size());
}

std::optional<std::string> SimDesktop::get_env(const std::string& name) {
    auto guard = lock();
    const auto found = environment.find(name);
    if (found == environment.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SimDesktop::write_stderr_line(std::string_view line) {
    auto guard = lock();
    stderr_lines.emplace_back(line);
}

ScopedSimDesktop::ScopedSimDesktop() {
    cua_actions::windows::set_platform(&desktop_);
}

ScopedSimDesktop::~ScopedSimDesktop() {
    cua_actions::windows::set_platform(nullptr);
}

}  // namespace sim
