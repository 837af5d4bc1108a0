#include "plugstore/links.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

std::string general(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

std::size_t heatOf(int port) {
  return static_cast<std::size_t>(outputNumber(indexed("port", port, ".heat")) - 1);
}

// The port of unit `from` whose outlet temperature feeds port `port` of
// `s.units[unit]` as one of its inlet temperatures; 0 for none.
int feedingPort(const Scenario& s, std::size_t unit, int port, std::size_t from) {
  for (const char* side : {".temperatureA", ".temperatureB"}) {
    const InputSource& in =
        s.units[unit]
            .inputs[static_cast<std::size_t>(inputNumber(indexed("port", port, side)) - 1)];
    if (!in.link || in.link->unit != from) continue;
    for (int q = 1; q <= kNumPorts; ++q) {
      if (in.link->output == outputNumber(indexed("port", q, ".outletTemperature"))) return q;
    }
  }
  return 0;
}

}  // namespace

bool hasLinks(const Scenario& s) {
  return std::any_of(s.units.begin(), s.units.end(), [](const Scenario& u) {
    return std::any_of(u.inputs.begin(), u.inputs.end(),
                       [](const InputSource& in) { return in.link.has_value(); });
  });
}

std::vector<standin::Connection> connectionsOf(const Scenario& s, std::size_t unit) {
  const Scenario& u = s.units.empty() ? s : s.units[unit];
  std::vector<bool> decided(u.inputs.size(), false);
  for (const ControllerSetup& c : u.controllers)
    decided[static_cast<std::size_t>(c.input - 1)] = true;
  if (u.tapping.port > 0) {
    decided[static_cast<std::size_t>(inputNumber(indexed("port", u.tapping.port, ".massFlow")) -
                                     1)] = true;
  }
  std::vector<standin::Connection> connections;
  for (std::size_t i = 0; i < u.inputs.size(); ++i) {
    const std::optional<Link>& link = u.inputs[i].link;
    if (!link || decided[i]) continue;
    connections.push_back({i, link->unit, static_cast<std::size_t>(link->output - 1)});
  }
  return connections;
}

bool PortLink::closes() const {
  return std::abs(difference()) <= 1e-6 * std::max(std::abs(left), std::abs(entered)) + 1e-9;
}

PortLink oriented(const PortLink& l) {
  if (l.left >= 0.0) return l;
  PortLink o = l;
  std::swap(o.unitA, o.unitB);
  std::swap(o.portA, o.portB);
  o.left = -l.entered;
  o.entered = -l.left;
  return o;
}

std::string portName(const Scenario& s, std::size_t unit, int port) {
  return s.units[unit].name + "." + indexed("port", port, "");
}

std::vector<PortLink> portLinks(const Scenario& s) {
  std::vector<PortLink> links;
  for (std::size_t a = 0; a < s.units.size(); ++a) {
    for (int p = 1; p <= kNumPorts; ++p) {
      for (std::size_t b = a + 1; b < s.units.size(); ++b) {
        const int q = feedingPort(s, a, p, b);
        if (q > 0 && feedingPort(s, b, q, a) == p) links.push_back({a, p, b, q});
      }
    }
  }
  return links;
}

void addStep(PortLink& l, const std::vector<const std::array<double, standin::kOutputs>*>& outputs,
             double hours, double time) {
  const double left = -(*outputs[l.unitA])[heatOf(l.portA)] * hours;
  const double entered = (*outputs[l.unitB])[heatOf(l.portB)] * hours;
  l.left += left;
  l.entered += entered;
  l.largestStepHeat = std::max(l.largestStepHeat, std::abs(left));
  // A step that passes next to nothing (a pump that is off) has no share to speak of.
  const double passed = std::max(std::abs(left), std::abs(entered));
  if (passed < 1e-9) return;
  const double share = std::abs(entered - left) / passed;
  if (share > l.worstStep) {
    l.worstStep = share;
    l.worstStepTime = time;
  }
}

std::string linksSummary(const Scenario& s, const std::vector<PortLink>& links,
                         const standin::RunResult& r) {
  const standin::Convergence& c = r.convergence;
  if (!hasLinks(s)) return {};
  std::string o;
  if (s.laggedLinks) {
    o += "links: lagged, each linked input takes its output of the step before\n";
  } else {
    const int steps = std::max(1, r.steps);
    o += "links: linked units called again within each step until their inputs settle within " +
         formatNumber(s.tolerance) +
         " (relative): " + general(static_cast<double>(c.iterations) / steps) +
         " iterations a step, " + std::to_string(c.mostIterations) + " at most\n";
  }
  for (const PortLink& raw : links) {
    const PortLink l = oriented(raw);
    char buf[400];
    std::snprintf(buf, sizeof buf,
                  "  loop %s -> %s: left %.4f kWh, entered %.4f kWh, difference %s kWh (%s of "
                  "the heat passed",
                  portName(s, l.unitA, l.portA).c_str(), portName(s, l.unitB, l.portB).c_str(),
                  l.left, l.entered, general(l.difference()).c_str(),
                  general(l.left != 0.0 ? l.difference() / l.left : 0.0).c_str());
    o += buf;
    if (l.worstStep > 0.0) {
      o += ", at most " + general(l.worstStep) + " of a step's, at " +
           formatNumber(l.worstStepTime) + " h";
    }
    o += l.closes() ? ")\n" : "): does not close\n";
  }
  const std::string unsettled = unsettledReason(s, c);
  if (!unsettled.empty()) o += "  WARNING: " + unsettled + "\n";
  return o;
}

std::string unsettledReason(const Scenario& s, const standin::Convergence& c) {
  if (c.unsettledSteps == 0 || s.units.empty()) return {};
  const Scenario& u = s.units[c.worstUnit];
  const Link& link = *u.inputs[c.worstInput].link;
  return "the links did not settle within " + std::to_string(s.maxIterations) + " iterations in " +
         std::to_string(c.unsettledSteps) + " of " + std::to_string(s.steps()) +
         " steps; worst at " + formatNumber(c.worstTime) + " h: " + u.name + "." +
         std::string(inputEntry(static_cast<int>(c.worstInput) + 1).name) + " was given " +
         general(c.worstGiven) + " while " + link.unitName + "." +
         std::string(outputEntry(link.output).name) + " read " + general(c.worstLatest) + " (" +
         general(c.worstExcess) + " times the tolerance)";
}

}  // namespace plugstore::runner
