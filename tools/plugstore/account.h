// The energy account of a run, or of a period of it, in kWh from the
// outputs of each step: every port, heat exchanger and heat input on its own
// row, split into the heat it brought into the store and the heat it took
// out, then the heat the plugs took, the temperature limit, the losses and
// the change of stored energy. Into the store counts positive, out of it
// negative, everywhere.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "plugstore/scenario.h"
#include "standin/protocol.h"

namespace plugstore::runner {

// The component's warning that it limited a plug to 0.1 ... 100 degC.
inline constexpr const char* kLimitWarning = "T OF STORE IS OUT OF RANGE [0-100]";

struct Flow {
  std::string key;    // "port1", "hx2", "heatA3"
  std::string label;  // "port 1" or "port 1 (DHW)" with a name from [names]
  double in = 0.0;    // kWh brought into the store
  double out = 0.0;   // kWh taken out of it (negative)
  [[nodiscard]] double net() const { return in + out; }
  void add(double kWh) { (kWh >= 0.0 ? in : out) += kWh; }
};

struct EnergyAccount {
  std::vector<Flow> flows;     // ports in use, heat exchangers in use, heat inputs
  double heatIntoPlugs = 0.0;  // heat exchangers and heat inputs as the plugs took them
  // Put in (negative: removed) where the component limited a plug to
  // 0.1 ... 100 degC: the main balance of the steps it warned of the limit.
  double limitHeat = 0.0;
  int limitedSteps = 0;         // steps with the component's limit warning
  double losses = 0.0;          // to the ambient (negative: heat lost)
  double storedChange = 0.0;    // change of the stored energy
  double maxAbsBalance = -1.0;  // kW, largest |main balance| of a step; -1: no step yet
  double maxAbsBalanceTime = 0.0;

  // Net sums of the flows whose key starts with "port", "hx" or "heat".
  [[nodiscard]] double net(const std::string& kind) const;
  // What the terms leave unexplained: ports + into the plugs + limit +
  // losses - change; the sum of the main balance over the run.
  [[nodiscard]] double residual() const {
    return net("port") + heatIntoPlugs + limitHeat + losses - storedChange;
  }
  [[nodiscard]] double largestTerm() const;
  // |unexplained| at most 1e-6 of the largest term (and above round-off).
  [[nodiscard]] bool closes() const;
};

// Adds the steps' outputs to accounts; knows where each term is.
class AccountBook {
 public:
  explicit AccountBook(const Scenario& scenario);
  // An account with the rows of this scenario, all 0.
  [[nodiscard]] EnergyAccount empty() const { return blank_; }
  // Adds `fraction` of a step of `hours` that ended at `time`; `inputs` are
  // those the step was given (heat inputs are read there); `limited`: the
  // component warned in the step that it limited a plug's temperature.
  void add(EnergyAccount& a, const std::array<double, standin::kOutputs>& out,
           const std::array<double, standin::kInputs>& inputs, double hours, double time,
           bool limited, double fraction = 1.0) const;

 private:
  struct Source {
    std::size_t index;  // 0-based in the outputs or the inputs
    bool input;
  };
  EnergyAccount blank_;
  std::vector<Source> sources_;  // one per flow
  std::size_t intoPlugs_, loss_, storageRate_, balance_;
};

}  // namespace plugstore::runner
