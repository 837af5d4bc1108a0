// Hot-water draws by demand: a list of tappings, each an energy to deliver
// at a tap through a thermostatic mixing valve. The valve mixes the store's
// hot water with mains water to its delivery temperature; each tap stays
// open at its flow for as long as its energy takes at that temperature
// above the mains. Before every step the runner sets the port's mass flow
// to the hot water the valve takes, judged from the outlet temperature of
// the previous step; the mains water enters the store in its place. After
// the step the water at the tap is the mix of what the store gave and the
// mains: a tapping counts as delivered where it reaches the temperature its
// user needs, and as short where the store was too cold.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

struct TappingFigures {
  double asked = 0.0;      // kWh the tappings asked for
  double useful = 0.0;     // kWh delivered at or above the temperature needed
  double shortfall = 0.0;  // kWh asked but not delivered so
  double drawn = 0.0;      // kg of hot water taken from the store
  // kWh the water at the taps carried above the mains, and what the port
  // took out of the store (its heat, negative): the first cannot exceed the
  // second, as the store's water is all the heat the taps get.
  double aboveMains = 0.0;
  double portOut = 0.0;
  int port = 0;  // the port that draws; 0: no tapping list
};

class Tapping {
 public:
  explicit Tapping(const Scenario& s);

  [[nodiscard]] bool used() const { return spec_.port > 0; }
  // Sets the port's mass flow for the step (a, b]; `inputs` hold the
  // scenario's values of the step, among them the mains temperature.
  void before(double a, double b, std::array<double, kNumInputs>& inputs);
  // Counts the step from its outputs.
  void after(double a, double b, const std::array<double, kNumOutputs>& outputs);

  // The step just run: kW asked and kW delivered at the needed temperature,
  // both as means over the step, and degC at the tap.
  [[nodiscard]] double column(std::size_t i) const { return columns_[i]; }
  [[nodiscard]] const TappingFigures& figures() const { return figures_; }

 private:
  // The occurrence o of a tapping: tap o mod n of period o div n.
  [[nodiscard]] double occurrenceTime(std::size_t o) const;
  [[nodiscard]] const Tap& occurrenceTap(std::size_t o) const;
  // Hours the tap that opens at `time` stays open.
  [[nodiscard]] double duration(const Tap& tap, double time) const;

  struct Share {
    double mass;    // kg at the tap in this step
    double asked;   // kWh
    double needed;  // degC
  };

  const TappingSpec& spec_;
  const InputSource& mains_;
  std::size_t flowIndex_;
  std::size_t mainsIndex_;
  std::size_t outletIndex_;
  double kgPerHourPerLitreMinute_;
  double specificHeat_;   // kJ/(kg K)
  double longest_ = 0.0;  // h, the longest any tap can stay open
  std::size_t next_ = 0;  // first occurrence that may still be open
  std::size_t occurrences_;

  double outlet_;  // degC, outlet temperature of the last step
  double mainsTemperature_ = 0.0;
  double mix_ = 1.0;  // share of the tap's water from the store
  double tapMass_ = 0.0;
  std::vector<Share> shares_;
  std::array<double, 3> columns_{};
  TappingFigures figures_;
};

}  // namespace plugstore::runner
