#include "plugstore/checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "host/parameters.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

// Relative height as the component holds it: value x 1e6, truncated.
int64_t heightUnits(double relative) {
  const double scaled = relative * static_cast<double>(kZTop);
  if (!(std::abs(scaled) < static_cast<double>(std::numeric_limits<int32_t>::max()))) {
    return scaled < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
  }
  return static_cast<int64_t>(scaled);
}

// A count as the component holds it: truncated towards zero.
int64_t whole(double v) {
  if (!(std::abs(v) < 1e15)) return v < 0 ? -1000000000 : 1000000000;
  return static_cast<int64_t>(v);
}

class Rules {
 public:
  explicit Rules(const std::array<double, kNumParameters>& par) : par_(par) {}

  double operator()(const std::string& name) const {
    return par_[static_cast<std::size_t>(parameterNumber(name) - 1)];
  }
  void fail(const std::string& name, const std::string& message) {
    problems.push_back({parameterNumber(name), name + " " + message});
  }
  void atLeast(const std::string& name, double low, bool inclusive, const char* unit) {
    const double v = (*this)(name);
    if (inclusive ? v >= low : v > low) return;
    fail(name, std::string("must be ") + (inclusive ? "at least " : "above ") + formatNumber(low) +
                   (*unit != '\0' ? std::string(" ") + unit : std::string()) + ", not " +
                   formatNumber(v));
  }

  std::vector<Problem> problems;

 private:
  const std::array<double, kNumParameters>& par_;
};

void storeRules(Rules& r) {
  r.atLeast("store.volume", 0.0, false, "m3");
  r.atLeast("store.density", 0.0, false, "kg/m3");
  r.atLeast("store.specificHeat", 0.0, false, "kJ/(kg K)");
  r.atLeast("store.conductivity", 0.0, true, "W/(m K)");
  r.atLeast("store.height", 0.0, false, "m");
  const int64_t minPlugs = whole(r("store.minPlugs"));
  const int64_t maxPlugs = whole(r("store.maxPlugs"));
  if (minPlugs < 10 || minPlugs > 400) {
    r.fail("store.minPlugs", "must be 10 ... 400, not " + formatNumber(r("store.minPlugs")));
  }
  if (maxPlugs < 10 || maxPlugs > 400 || maxPlugs <= minPlugs) {
    r.fail("store.maxPlugs", "must be 10 ... 400 and above store.minPlugs (" +
                                 std::to_string(minPlugs) + "), not " +
                                 formatNumber(r("store.maxPlugs")));
  }
  r.atLeast("store.minDeltaT", 0.0, true, "K");
  // The store is held within 0.1 ... 100 degC; a uniform start outside would
  // be cut to it at the first step.
  const double t0 = r("store.initialTemperature");
  if (whole(r("store.startProfile")) != 1 && (t0 < 0.1 || t0 > 100.0)) {
    r.fail("store.initialTemperature", "must lie in 0.1 ... 100 degC, not " + formatNumber(t0));
  }
  r.atLeast("store.referenceTemperature", -273.15, false, "degC");
  for (const char* ua : {"loss.uaBottom", "loss.uaSideLower", "loss.uaSideMiddle",
                         "loss.uaSideUpper", "loss.uaTop"}) {
    r.atLeast(ua, 0.0, true, "W/K");
  }
  const int64_t mode = whole(r("barrier.mode"));
  if (mode < 0 || mode > 2) {
    r.fail("barrier.mode", "must be 0 (none), 1 (fixed height) or 2 (temperature), not " +
                               formatNumber(r("barrier.mode")));
  }
  r.atLeast("barrier.ua", 0.0, true, "W/K");
  const double start = r("store.initialTemperature");
  if (start <= -273.15 || start > kMaxTemperature) {
    r.fail("store.initialTemperature",
           "must lie above -273.15 and at most 10000 degC, not " + formatNumber(start));
  }
  if (r("store.referenceTemperature") > kMaxTemperature) {
    r.fail("store.referenceTemperature",
           "must be at most 10000 degC, not " + formatNumber(r("store.referenceTemperature")));
  }
}

// Sizes no store has: the component's own limits.
void sizeRules(Rules& r, const std::array<double, kNumParameters>& par) {
  const int64_t count = whole(r("hx.count"));
  const int hx = count < 0 ? 0 : static_cast<int>(std::min<int64_t>(count, kMaxHx));
  for (int n = 1; n <= kNumParameters; ++n) {
    const double v = par[static_cast<std::size_t>(n - 1)];
    const std::string name(parameterEntry(n).name);
    if (isQuantityParameter(n, hx) && outsideAnyStore(v)) {
      r.fail(name, "must be 0 or of a size from 1e-12 to 1e12, not " + formatNumber(v));
    } else if (isExponentParameter(n, hx) && std::abs(v) > kMaxExponent) {
      r.fail(name, "must lie within -10 ... 10, not " + formatNumber(v));
    }
  }
}

void portRules(Rules& r) {
  for (int d = 1; d <= kNumPorts; ++d) {
    const std::string a = indexed("port", d, ".heightA");
    const std::string b = indexed("port", d, ".heightB");
    const int64_t zA = heightUnits(r(a));
    const int64_t zB = heightUnits(r(b));
    const bool offA = zA == -kZTop;
    const bool offB = zB == -kZTop;
    if (offA && offB) continue;  // port not in use
    if (offA || offB) {
      r.fail(offA ? b : a, "is set but " + (offA ? a : b) +
                               " is -1: give both heights, or -1 for both when port " +
                               std::to_string(d) + " is not in use");
      continue;
    }
    // Connection A must lie above the bottom, B below the top.
    if (zA <= 0 || zA > kZTop) {
      r.fail(a, "must lie above 0 and at most 1, not " + formatNumber(r(a)));
    } else if (zB < 0 || zB >= kZTop) {
      r.fail(b, "must lie from 0 to below 1, not " + formatNumber(r(b)));
    }
  }
}

void hxRules(Rules& r) {
  const int64_t count = whole(r("hx.count"));
  if (count < 0 || count > kMaxHx) {
    r.fail("hx.count", "must be 0 ... 6, not " + formatNumber(r("hx.count")));
    return;
  }
  for (int k = 1; k <= count; ++k) {
    auto n = [k](const char* field) { return indexed("hx", k, field); };
    const double in = r(n(".inletHeight"));
    const double out = r(n(".outletHeight"));
    bool heights = true;
    for (const char* f : {".inletHeight", ".outletHeight"}) {
      const double v = r(n(f));
      if (v < 0.0 || v > 1.0) {
        r.fail(n(f), "must lie in 0 ... 1, not " + formatNumber(v));
        heights = false;
      }
    }
    if (heights && std::abs(out - in) < 0.001) {
      r.fail(n(".outletHeight"), "must lie at least 0.001 from " + n(".inletHeight"));
      heights = false;
    }
    const int64_t cvs = whole(r(n(".numberOfCv")));
    const int64_t span = std::abs(heightUnits(out) - heightUnits(in));
    if (cvs < 1 || (heights && cvs > span)) {
      r.fail(n(".numberOfCv"),
             "must be at least 1 and at most the height units between inlet and outlet, not " +
                 formatNumber(r(n(".numberOfCv"))));
    }
    const int64_t model = whole(r(n(".uaModel")));
    if (model != 0 && model != 1) {
      r.fail(n(".uaModel"),
             "must be 0 (correlations) or 1 (nominal UA), not " + formatNumber(r(n(".uaModel"))));
    }
    r.atLeast(n(".specificHeat"), 0.0, false, "kJ/(kg K)");
    r.atLeast(n(".density"), 0.0, false, "kg/m3");
    if (model == 0) {
      r.atLeast(n(".innerDiameter"), 0.0, false, "m");
      r.atLeast(n(".outerDiameter"), r(n(".innerDiameter")), false, "m (the inner diameter)");
      r.atLeast(n(".length"), 0.0, false, "m");
      r.atLeast(n(".wallConductivity"), 0.0, false, "W/(m K)");
    } else if (model == 1) {
      r.atLeast(n(".uaNominal"), 0.0, true, "kJ/(h K)");
    }
  }
}

// Sensors and zones: the component reads them anywhere, and a zone upside
// down reads 0 degC.
void outputRules(Rules& r) {
  auto within = [&r](const std::string& name) {
    const double v = r(name);
    if (v < 0.0 || v > 1.0) r.fail(name, "must lie in 0 ... 1, not " + formatNumber(v));
    return v >= 0.0 && v <= 1.0;
  };
  for (int i = 1; i <= kNumSensors; ++i) within(indexed("sensor", i, ".height"));
  for (int i = 1; i <= kNumZones; ++i) {
    const std::string low = indexed("zone", i, ".low");
    const std::string high = indexed("zone", i, ".high");
    if (within(low) && within(high) && r(low) > r(high)) {
      r.fail(high, "must not lie below " + low + " (" + formatNumber(r(low)) + "), not " +
                       formatNumber(r(high)));
    }
  }
}

void heatInputRules(Rules& r) {
  for (const char* bank : {"heatA", "heatB"}) {
    for (int i = 1; i <= kNumHeatInputs; ++i) {
      const std::string name = indexed(bank, i, ".height");
      if (r(name) > 1.0) r.fail(name, "must be at most 1 (the top), not " + formatNumber(r(name)));
    }
  }
}

}  // namespace

std::vector<Problem> parameterProblems(const std::array<double, kNumParameters>& par) {
  Rules r(par);
  for (int n = 1; n <= kNumParameters; ++n) {
    const double v = par[static_cast<std::size_t>(n - 1)];
    if (!std::isfinite(v)) {
      r.problems.push_back({n, std::string(parameterEntry(n).name) + " is not a finite number"});
    }
  }
  if (!r.problems.empty()) return r.problems;
  storeRules(r);
  sizeRules(r, par);
  portRules(r);
  hxRules(r);
  heatInputRules(r);
  outputRules(r);
  return r.problems;
}

std::vector<Problem> parameterNotes(const std::array<double, kNumParameters>& par) {
  // A liquid's specific heat lies near 1 ... 5 kJ/(kg K); 4190 is water in J.
  std::vector<Problem> notes;
  auto specificHeat = [&](const std::string& name) {
    const int n = parameterNumber(name);
    const double v = par[static_cast<std::size_t>(n - 1)];
    if (v > 0.0 && (v < 0.5 || v > 10.0)) {
      notes.push_back({n, name + " is " + formatNumber(v) +
                              " kJ/(kg K), far from what a liquid has (water: 4.19)" +
                              (v > 100.0 ? "; was it given in J/(kg K)?" : "")});
    }
  };
  specificHeat("store.specificHeat");
  const int64_t count = whole(par[static_cast<std::size_t>(parameterNumber("hx.count") - 1)]);
  for (int k = 1; k <= count && k <= kMaxHx; ++k) specificHeat(indexed("hx", k, ".specificHeat"));
  return notes;
}

std::vector<Problem> inputProblems(const std::array<double, kNumParameters>& par,
                                   const std::array<InputSource, kNumInputs>& inputs) {
  std::vector<Problem> problems;
  auto source = [&inputs](const std::string& name) -> const InputSource& {
    return inputs[static_cast<std::size_t>(inputNumber(name) - 1)];
  };
  auto value = [&par](const std::string& name) {
    return par[static_cast<std::size_t>(parameterNumber(name) - 1)];
  };
  auto low = [](const InputSource& s) { return s.schedule ? s.schedule->minValue() : s.constant; };
  auto high = [](const InputSource& s) { return s.schedule ? s.schedule->maxValue() : s.constant; };
  auto fail = [&problems](const std::string& name, const std::string& message) {
    problems.push_back({inputNumber(name), name + " " + message});
  };

  for (int n = 1; n <= kNumInputs; ++n) {
    const InputSource& s = inputs[static_cast<std::size_t>(n - 1)];
    if (!s.schedule && !std::isfinite(s.constant)) {
      problems.push_back({n, std::string(inputEntry(n).name) + " is not a finite number"});
    }
  }

  // A flow needs somewhere to go and the temperature it brings.
  struct Loop {
    std::string flow, forward, reversed, why;
    bool inUse;
  };
  std::vector<Loop> loops;
  for (int d = 1; d <= kNumPorts; ++d) {
    const bool used = heightUnits(value(indexed("port", d, ".heightA"))) != -kZTop ||
                      heightUnits(value(indexed("port", d, ".heightB"))) != -kZTop;
    loops.push_back({indexed("port", d, ".massFlow"), indexed("port", d, ".temperatureA"),
                     indexed("port", d, ".temperatureB"),
                     "port " + std::to_string(d) + " is not in use (its heights are -1)", used});
  }
  const int64_t hxCount = whole(value("hx.count"));
  for (int k = 1; k <= kMaxHx; ++k) {
    loops.push_back({indexed("hx", k, ".massFlow"), indexed("hx", k, ".inletTemperature"),
                     indexed("hx", k, ".inletTemperatureReversed"),
                     "hx.count is " + std::to_string(hxCount), k <= hxCount});
  }
  for (const Loop& l : loops) {
    const InputSource& flow = source(l.flow);
    if (!flow.given() || (low(flow) == 0.0 && high(flow) == 0.0)) continue;
    if (!l.inUse) {
      fail(l.flow, "is given but " + l.why);
      continue;
    }
    if (high(flow) > 0.0 && !source(l.forward).given()) {
      fail(l.flow, "is positive at times but " + l.forward + " is not given");
    }
    if (low(flow) < 0.0 && !source(l.reversed).given()) {
      fail(l.flow, "is negative at times (reversed flow) but " + l.reversed + " is not given");
    }
  }

  // A heat input at height 0 or below is off: its power would be lost.
  for (const char* bank : {"heatA", "heatB"}) {
    for (int i = 1; i <= kNumHeatInputs; ++i) {
      const std::string power = indexed(bank, i, ".power");
      const InputSource& s = source(power);
      if (!s.given() || (low(s) == 0.0 && high(s) == 0.0)) continue;
      const std::string height = indexed(bank, i, ".height");
      if (value(height) <= 0.0) {
        fail(power, "is given but " + height + " is " + formatNumber(value(height)) +
                        ", which turns the input off");
      }
    }
  }
  return problems;
}

std::string stepProblem(double step) {
  return step > 0.0 && std::isfinite(step) ? "" : "step must be above 0 h";
}

std::string iterationsProblem(double iterations) {
  if (iterations != std::trunc(iterations)) return "iterations must be an integer";
  return iterations >= 1 && iterations <= 1000 ? "" : "iterations must be 1 ... 1000";
}

std::string unitProblem(double unit) {
  if (unit != std::trunc(unit)) return "unit must be an integer";
  return unit >= 1 && unit <= 999 ? "" : "unit must be 1 ... 999";
}

std::string startProblem(double start, double step) {
  if (!std::isfinite(start)) return "start must be a number of hours, not " + formatNumber(start);
  // The host's clock counts start + k x step: at 1e300 h a step is lost in
  // the rounding, and every step would be the same instant.
  const double moved = (start + step) - start;
  if (std::abs(moved - step) > 1e-6 * step) {
    return "start (" + formatNumber(start) + " h) is too large for steps of " + formatNumber(step) +
           " h: the clock would not move by a step";
  }
  return "";
}

}  // namespace plugstore::runner
