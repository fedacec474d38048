// The capture contract against the simulated desktop, with a painted screen.
#include "screenshot_contract.h"

#include "support/sim_desktop.h"

namespace screenshot_contract {
namespace {

struct SimSide {
    SimSide() {
        desktop.screen_frame =
            sim::SimFrame{0, 0, 64, 64, std::vector<std::uint8_t>(64 * 64 * 4, 9)};
    }
    ~SimSide() { EXPECT_TRUE(desktop.gdi_objects.empty()) << "handle table not empty"; }
    Platform& os() { return desktop; }
    sim::SimDesktop desktop;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, CaptureContract, SimSide);

}  // namespace
}  // namespace screenshot_contract
