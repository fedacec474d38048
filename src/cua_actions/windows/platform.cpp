#include "cua_actions/windows/platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace cua_actions::windows {
namespace {
std::atomic<Platform*> g_active{nullptr};
}  // namespace

Platform& platform() {
    Platform* active = g_active.load(std::memory_order_acquire);
    if (active == nullptr) {
        // A missing platform is a wiring bug of the entry point or a test, never a request error.
        std::fputs("no platform installed\n", stderr);
        std::abort();
    }
    return *active;
}

void set_platform(Platform* replacement) {
    g_active.store(replacement, std::memory_order_release);
}

}  // namespace cua_actions::windows
