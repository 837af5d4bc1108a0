#include "plugstore/step_notes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "correlations/correlations.h"
#include "plugstore/names.h"
#include "solver/solver.h"

namespace plugstore::runner {

namespace {

// The correlations report only failures, which the run itself will show.
class SilentHost final : public HostServices {
 public:
  void messages(int, std::string_view, std::string_view, int, int) override {}
  void typeck(int, int*, int, int, int) override {}
  void foundBadParameter(int, std::string_view, std::string_view) override {}
  void setStorageSize(int, int*) override {}
  int nextAvailableLogicalUnit() override { return 0; }
  void label(std::array<char, 300>& label, int, int) override { label.fill(' '); }
  double simulationTimeStep() override { return 1.0; }
  double simulationStartTime() override { return 0.0; }
  int timestepIteration() override { return 0; }
  void debugLine(std::string_view) override {}
  void stdoutLine(std::string_view) override {}
};

class Values {
 public:
  // What controllers and a tapping list set counts with the value they set.
  explicit Values(const Scenario& s) : s_(s), inputs_(inputsWithControl(s)) {}
  [[nodiscard]] double par(const std::string& name) const {
    return s_.parameters[static_cast<std::size_t>(parameterNumber(name) - 1)];
  }
  // Largest value of an input over the run, and largest magnitude.
  [[nodiscard]] double high(const std::string& name) const {
    const InputSource& i = input(name);
    return i.schedule ? i.schedule->maxValue() : i.constant;
  }
  // Largest magnitude the component receives: the mean of a schedule over a
  // step, so that a short draw counts with its share of the step.
  [[nodiscard]] double largest(const std::string& name) const {
    const InputSource& i = input(name);
    if (!i.schedule) return std::abs(i.constant);
    double m = 0.0;
    for (int k = 1; k <= s_.steps(); ++k) {
      const double t = s_.start + k * s_.step;
      m = std::max(m, std::abs(i.over(t - s_.step, t)));
    }
    return m;
  }
  // Quick bound of largest(): the largest point of the schedule.
  [[nodiscard]] double peak(const std::string& name) const {
    const InputSource& i = input(name);
    return i.schedule ? std::max(std::abs(i.schedule->maxValue()), std::abs(i.schedule->minValue()))
                      : std::abs(i.constant);
  }

 private:
  [[nodiscard]] const InputSource& input(const std::string& name) const {
    return inputs_[static_cast<std::size_t>(inputNumber(name) - 1)];
  }
  const Scenario& s_;
  std::array<InputSource, kNumInputs> inputs_;
};

std::string rounded(double v) {
  return formatNumber(std::round(v * (v < 10.0 ? 100.0 : 1.0)) / (v < 10.0 ? 100.0 : 1.0));
}

// UA (W/K) of the whole coil at its largest flow: a nominal UA with its flow
// law, or the correlations of the inlet's control volume (the largest
// difference, between the hottest inlet and the store's initial temperature)
// spread over the coil.
double coilUA(const Values& v, int k, double mDot) {
  auto p = [&v, k](const char* field) { return v.par(indexed("hx", k, field)); };
  if (static_cast<int>(p(".uaModel")) == 1) {
    const double flowLaw = p(".flowExponent") != 0.0 ? std::pow(mDot, p(".flowExponent")) : 1.0;
    return p(".uaNominal") * flowLaw / 3.6;
  }
  SilentHost host;
  const double tIn = std::max(v.high(indexed("hx", k, ".inletTemperature")),
                              v.high(indexed("hx", k, ".inletTemperatureReversed")));
  const double tStore = v.par("store.initialTemperature");
  const double dIn = p(".innerDiameter");
  const double dOut = p(".outerDiameter");
  const double tFluidMean = (tIn + tStore) / 2.0;
  const double tFilm = std::clamp((tFluidMean + tStore) / 2.0, 2.0, 90.0);
  const double velocity = 4.0 * mDot / (p(".density") * std::numbers::pi * dIn * dIn);
  double hIn = 0.0;
  double hOut = 0.0;
  double hWall = 0.0;
  double re = 0.0;
  double nu = 0.0;
  double ra = 0.0;
  calculateHeatTransCoefPipeIn(host, tIn, p(".glycolConcentration"), dIn, p(".length"), velocity,
                               hIn, 0, 1.0, 0, 0, re, nu);
  calculateHeatTransCoefImmersedPlate(host, tFilm, tStore, tFluidMean, dOut, hOut,
                                      p(".outsideConstant"), p(".outsideExponent"), ra, nu, 0, 0);
  calculateHeatTransferWall(host, p(".wallConductivity"), dIn, dOut, hWall, 1, 0, 0);
  if (!(hIn > 0.0 && hWall > 0.0 && hOut > 0.0)) return 0.0;
  return std::numbers::pi * dOut * p(".length") / (1.0 / hIn + 1.0 / hWall + 1.0 / hOut);
}

}  // namespace

std::vector<std::string> stepNotes(const Scenario& s) {
  std::vector<std::string> notes;
  const Values v(s);
  const double dt = s.step * 3600.0;
  const double cp = v.par("store.specificHeat") * 1000.0;
  const double mass = v.par("store.volume") * v.par("store.density");
  const double capTot = mass * cp;
  if (!(dt > 0.0 && capTot > 0.0)) return notes;

  const int hxCount = std::clamp(static_cast<int>(v.par("hx.count")), 0, kMaxHx);
  for (int k = 1; k <= hxCount; ++k) {
    if (v.peak(indexed("hx", k, ".massFlow")) / 3600.0 < kMDotMin) continue;
    const double mDot = v.largest(indexed("hx", k, ".massFlow")) / 3600.0;
    const double span = std::abs(v.par(indexed("hx", k, ".inletHeight")) -
                                 v.par(indexed("hx", k, ".outletHeight")));
    const double ratio = coilUA(v, k, mDot) * dt / (capTot * span);
    if (!(ratio > kCouplingRatio)) continue;
    notes.push_back(indexed("hx", k, "") + ": UA x step is about " + rounded(ratio) +
                    " times the heat capacitance of the store around the coil: the component "
                    "will run such steps in about " +
                    formatNumber(std::ceil(ratio / kSubStepRatio)) +
                    " sub-steps (docs/time-steps.md)");
  }

  const double thinPlug = capTot / std::max(1.0, std::trunc(v.par("store.maxPlugs")));
  const double room = 100.0 - v.par("store.initialTemperature");
  for (const char* bank : {"heatA", "heatB"}) {
    for (int i = 1; i <= kNumHeatInputs; ++i) {
      if (!(v.par(indexed(bank, i, ".height")) > 0.0)) continue;
      const std::string power = indexed(bank, i, ".power");
      if (!(v.peak(power) * 1000.0 * dt / thinPlug > room)) continue;
      const double rise = v.largest(power) * 1000.0 * dt / thinPlug;
      if (!(rise > room)) continue;
      notes.push_back(indexed(bank, i, "") + ": a step of its largest power heats a plug of " +
                      "1/store.maxPlugs of the store by " + rounded(rise) +
                      " K: where it heats a thin plug the component cuts the step into "
                      "sub-steps (docs/time-steps.md)");
    }
  }

  // Mass the ports move in a step, as a share of the store: checked at the
  // schedules' peaks first, exactly where the peaks reach half the store.
  double turnover = 0.0;
  for (const bool exact : {false, true}) {
    turnover = 0.0;
    for (int d = 1; d <= kNumPorts; ++d) {
      if (v.par(indexed("port", d, ".heightA")) < 0.0) continue;
      const std::string flow = indexed("port", d, ".massFlow");
      const double moved = (exact ? v.largest(flow) : v.peak(flow)) / 3600.0 * dt / mass;
      turnover += moved;
      if (exact && moved > 1.0) {
        notes.push_back(indexed("port", d, "") + " moves " + rounded(moved) +
                        " times the store's mass in a step at its largest flow: unless a "
                        "strongly coupled coil cuts such steps, the component stops with \"mass "
                        "flow too large in the top or in the bottom of the store\"");
      }
    }
    if (!(turnover > 0.5)) break;
  }
  if (turnover > 0.5) {
    notes.push_back("the ports together turn over up to " + rounded(turnover) +
                    " of the store in a step: the component warns \"More than half of the total "
                    "capacitance of the store turned over by direct fluid inputs\" at such steps");
  }
  return notes;
}

}  // namespace plugstore::runner
