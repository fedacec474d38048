// The child-process contract run against the simulated desktop.

#include "process_contract.h"

#include "support/sim_desktop.h"

namespace process_contract {
namespace {

struct SimSide {
    sim::SimDesktop desktop;
    Platform& os() { return desktop; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, ProcessContract, SimSide);

}  // namespace
}  // namespace process_contract
