// The DPI step and the monitor DPI on the real Win32 calls (under Wine in CI).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cua_actions/windows/display_input.h"
#include "cua_actions/windows/win32/win32_platform.h"

namespace cua_actions::windows {
namespace {

// The real platform, with every DPI call and its answer written down.
class RecordingWin32 : public Win32Platform {
  public:
    std::vector<std::string> calls;
    std::vector<std::string> stderr_lines;

    OptionalCall set_process_dpi_awareness_context(DpiAwarenessContext context) override {
        const OptionalCall answer = Win32Platform::set_process_dpi_awareness_context(context);
        calls.push_back(std::to_string(static_cast<std::int64_t>(context)) +
                        (answer == OptionalCall::accepted ? " accepted"
                         : answer == OptionalCall::refused
                             ? " refused " + std::to_string(get_last_error())
                             : " unavailable"));
        return answer;
    }
    bool set_process_dpi_aware() override {
        const bool done = Win32Platform::set_process_dpi_aware();
        calls.push_back(done ? "system accepted" : "system refused");
        return done;
    }
    void write_stderr_line(std::string_view line) override { stderr_lines.emplace_back(line); }
};

TEST(DpiWin32, WineRefusesPerMonitorAwarenessSoTheSystemStepRunsSilently) {
    RecordingWin32 recorder;
    set_platform(&recorder);
    reset_dpi_awareness_for_testing();
    ensure_dpi_awareness();
    set_platform(nullptr);
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
        // Wine 8.0 knows no v2 context (87) and starts processes per-monitor
        // aware already, so v1 is refused as fixed (5).
        EXPECT_EQ(recorder.calls,
                  (std::vector<std::string>{"-4 refused 87", "-3 refused 5", "system accepted"}));
    }
    EXPECT_EQ(recorder.stderr_lines, std::vector<std::string>{});
}

TEST(DpiWin32, EveryMonitorReportsAnEffectiveDpi) {
    // shcore is found in the system folder and its export through our signature.
    Win32Platform& os = win32_platform();
    for (const Handle monitor : os.enum_display_monitors()) {
        const auto dpi = os.get_dpi_for_monitor(monitor);
        ASSERT_TRUE(dpi.has_value());
        EXPECT_GE(*dpi, 96u);
    }
}

}  // namespace
}  // namespace cua_actions::windows
