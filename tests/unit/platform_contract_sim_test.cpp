// The platform contract run against the simulated desktop.

#include "platform_contract.h"

#include "support/sim_desktop.h"

namespace contract {
namespace {

class SimSide final : public ContractSide {
  public:
    Platform& os() override { return desktop_; }
    void set_env(const std::string& name, const std::string& value) override {
        desktop_.environment[name] = value;
    }
    void unset_env(const std::string& name) override { desktop_.environment.erase(name); }

  private:
    sim::SimDesktop desktop_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, PlatformContract, SimSide);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, ClipboardContract, SimSide);

}  // namespace
}  // namespace contract
