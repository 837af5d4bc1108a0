// Stand-in host: runs the host's call protocol over the component library
// for a store at rest and prints its state at the end.
//
//   standin_host [--lib PATH] [--hours H] [--step H]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standin/kernel.h"
#include "standin/protocol.h"

namespace {

// A valid store: 300 l, 1.5 m high, 60 degC, light losses, no ports in use.
std::array<double, standin::kParameters> restingStore() {
  std::array<double, standin::kParameters> p{};
  auto at = [&p](int n) -> double& { return p[static_cast<std::size_t>(n - 1)]; };
  at(1) = 0.3;     // volume m3
  at(2) = 1000.0;  // density
  at(3) = 4.18;    // kJ/(kg K)
  at(4) = 0.6;     // W/(m K)
  at(5) = 1.5;     // height m
  at(6) = 60.0;    // initial temperature
  at(7) = 100.0;   // max plugs
  at(8) = 30.0;    // min plugs
  at(9) = 0.1;     // min delta T
  at(11) = 20.0;   // reference temperature
  at(12) = 0.2;    // UA bottom W/K
  at(13) = 0.5;
  at(14) = 0.5;
  at(15) = 0.5;
  at(16) = 0.3;  // UA top
  for (int d = 1; d <= 10; ++d) {
    at(21 + 4 * (d - 1)) = -1.0;
    at(22 + 4 * (d - 1)) = -1.0;
  }
  for (int i = 0; i < 10; ++i) at(61 + i) = 0.05 + 0.1 * i;
  for (int z = 0; z < 5; ++z) {
    at(71 + 2 * z) = 0.2 * z;
    at(72 + 2 * z) = 0.2 * (z + 1);
  }
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  std::string lib = standin::defaultComponentPath();
  standin::RunConfig cfg;
  cfg.stop = 24.0;
  cfg.step = 0.25;
  cfg.parameters = restingStore();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--lib") == 0) {
      lib = argv[i + 1];
    } else if (std::strcmp(argv[i], "--hours") == 0) {
      cfg.stop = std::atof(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--step") == 0) {
      cfg.step = std::atof(argv[i + 1]);
    }
  }
  standin::Component component(lib);
  if (!component.loaded()) {
    std::fprintf(stderr, "standin_host: %s\n", component.error().c_str());
    return 2;
  }
  std::array<double, standin::kOutputs> last{};
  standin::RunHooks hooks;
  hooks.inputs = [](double, int, std::array<double, standin::kInputs>& in) {
    in[30] = 20.0;  // ambient temperature
  };
  hooks.outputs = [&last](double, int, const std::array<double, standin::kOutputs>& out) {
    last = out;
  };
  const standin::RunResult r = standin::runSimulation(component, cfg, hooks);
  std::printf("steps %d, calls %d, messages %zu\n", r.steps, r.calls,
              standin::kernel().messages.size());
  std::printf("mean store temperature %.4f degC, stored energy %.6f MJ, loss %.6f kW\n", last[64],
              last[60], last[67]);
  return r.exitStatus;
}
