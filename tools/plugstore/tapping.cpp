#include "plugstore/tapping.h"

#include <algorithm>
#include <cmath>

#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

std::size_t inputIndex(int port, const char* field) {
  return static_cast<std::size_t>(inputNumber(indexed("port", port, field)) - 1);
}

double parameter(const Scenario& s, const std::string& name) {
  return s.parameters[static_cast<std::size_t>(parameterNumber(name) - 1)];
}

// A tap cannot run on mains water as warm as the delivery temperature (the
// checks refuse that): its duration is bounded as if 1 K were left.
constexpr double kLeastLift = 1.0;  // K

}  // namespace

Tapping::Tapping(const Scenario& s)
    : spec_(s.tapping),
      mains_(s.inputs[inputIndex(std::max(spec_.port, 1), ".temperatureA")]),
      flowIndex_(inputIndex(std::max(spec_.port, 1), ".massFlow")),
      mainsIndex_(inputIndex(std::max(spec_.port, 1), ".temperatureA")),
      outletIndex_(static_cast<std::size_t>(
          outputNumber(indexed("port", std::max(spec_.port, 1), ".outletTemperature")) - 1)),
      kgPerHourPerLitreMinute_(60.0 * parameter(s, "store.density") / 1000.0),
      specificHeat_(parameter(s, "store.specificHeat")),
      occurrences_(spec_.period > 0.0 ? static_cast<std::size_t>(-1) : spec_.taps.size()) {
  // Until the first step has run, the valve takes the store's start
  // temperature at the outlet connection.
  outlet_ = parameter(s, "store.initialTemperature");
  if (!s.initialProfile.empty() && spec_.port > 0) {
    outlet_ =
        profileTemperature(s.initialProfile, parameter(s, indexed("port", spec_.port, ".heightB")));
  }
  if (!used()) return;
  const double warmest = mains_.schedule ? mains_.schedule->maxValue() : mains_.constant;
  for (const Tap& tap : spec_.taps) {
    const double lift = std::max(spec_.delivery - warmest, kLeastLift);
    longest_ = std::max(longest_, tap.energy * 3600.0 /
                                      (tap.flow * kgPerHourPerLitreMinute_ * specificHeat_ * lift));
  }
  // The first occurrence at or after the start of the run.
  const double start = s.start;
  const std::size_t n = spec_.taps.size();
  if (spec_.period > 0.0)
    next_ = static_cast<std::size_t>(std::max(0.0, std::floor(start / spec_.period))) * n;
  while (next_ < occurrences_ && occurrenceTime(next_) < start) ++next_;
  shares_.reserve(16);
}

double Tapping::occurrenceTime(std::size_t o) const {
  const std::size_t n = spec_.taps.size();
  return spec_.taps[o % n].time + static_cast<double>(o / n) * spec_.period;
}

const Tap& Tapping::occurrenceTap(std::size_t o) const { return spec_.taps[o % spec_.taps.size()]; }

double Tapping::duration(const Tap& tap, double time) const {
  const double lift = std::max(spec_.delivery - mains_.over(time, time), kLeastLift);
  return tap.energy * 3600.0 / (tap.flow * kgPerHourPerLitreMinute_ * specificHeat_ * lift);
}

void Tapping::before(double a, double b, std::array<double, kNumInputs>& inputs) {
  if (!used()) return;
  shares_.clear();
  tapMass_ = 0.0;
  while (next_ < occurrences_ && occurrenceTime(next_) + longest_ <= a) ++next_;
  for (std::size_t o = next_; o < occurrences_ && occurrenceTime(o) < b; ++o) {
    const Tap& tap = occurrenceTap(o);
    const double open = occurrenceTime(o);
    const double length = duration(tap, open);
    const double overlap = std::min(b, open + length) - std::max(a, open);
    if (overlap <= 0.0) continue;
    const double mass = tap.flow * kgPerHourPerLitreMinute_ * overlap;
    shares_.push_back({mass, tap.energy * overlap / length, tap.temperature});
    tapMass_ += mass;
  }
  // The valve takes just enough hot water for the delivery temperature, or
  // only hot water when the store is not warmer than that.
  mainsTemperature_ = inputs[mainsIndex_];
  mix_ = 1.0;
  if (outlet_ > spec_.delivery) {
    mix_ =
        std::clamp((spec_.delivery - mainsTemperature_) / (outlet_ - mainsTemperature_), 0.0, 1.0);
  }
  inputs[flowIndex_] = mix_ * tapMass_ / (b - a);
}

void Tapping::after(double a, double b, const std::array<double, kNumOutputs>& outputs) {
  if (!used()) return;
  outlet_ = outputs[outletIndex_];
  // The water at the tap: what the store gave in this step, mixed.
  const double tap = mix_ * outlet_ + (1.0 - mix_) * mainsTemperature_;
  double asked = 0.0;
  double useful = 0.0;
  for (const Share& s : shares_) {
    const double delivered = s.mass * specificHeat_ * (tap - mainsTemperature_) / 3600.0;
    asked += s.asked;
    figures_.aboveMains += delivered;
    if (tap >= s.needed) useful += std::clamp(delivered, 0.0, s.asked);
  }
  figures_.asked += asked;
  figures_.useful += useful;
  figures_.shortfall += asked - useful;
  figures_.drawn += mix_ * tapMass_;
  columns_ = {asked / (b - a), useful / (b - a), tap};
}

}  // namespace plugstore::runner
