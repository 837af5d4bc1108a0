// Soak: years of a busy store at 6-minute steps through the component
// library, loaded and called as the host does, checking at every step what a
// year-long simulation relies on:
//  - the main balance (output 64) below 1e-9 of the largest heat flow;
//  - the stored energy (output 61) equal to its start plus the integral of
//    the balance terms (heat into the plugs - losses + ports), to 1e-9 of
//    the largest stored energy of the run;
//  - memory flat: neither the heap in use nor the anonymous resident size
//    ever above what they were after the first day;
//  - no message but notices (the version, and the first step cut into
//    sub-steps).
// The store: a draw-off port and a seeking heating loop, both reversing at
// times, a solar coil on correlations, a boiler coil on nominal UA with
// power laws, an electric element and a heat-pump evaporator as heat inputs,
// losses and conduction, each switched by thermostats on the store's
// sensors, with seasons.
//
//   soak [--years N] [--step H] [--lib PATH]     (10 years, 0.1 h)
// Exit status 0 when every check held, 1 when one failed, 2 on bad usage.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>

#include "standin/kernel.h"
#include "standin/protocol.h"

namespace {

using Parameters = std::array<double, standin::kParameters>;
using Inputs = std::array<double, standin::kInputs>;
using Outputs = std::array<double, standin::kOutputs>;

constexpr double kVolume = 0.4;  // m3
constexpr double kDensity = 1000.0;
constexpr double kSpecificHeat = 4.18;  // kJ/(kg K)
constexpr double kInitialTemperature = 55.0;
constexpr double kReferenceTemperature = 20.0;

double& at(Parameters& p, int n) { return p[static_cast<std::size_t>(n - 1)]; }
double& at(Inputs& x, int n) { return x[static_cast<std::size_t>(n - 1)]; }
double at(const Outputs& y, int n) { return y[static_cast<std::size_t>(n - 1)]; }

Parameters busyStore() {
  Parameters p{};
  at(p, 1) = kVolume;
  at(p, 2) = kDensity;
  at(p, 3) = kSpecificHeat;
  at(p, 4) = 0.6;  // W/(m K)
  at(p, 5) = 1.6;  // m
  at(p, 6) = kInitialTemperature;
  at(p, 7) = 100.0;  // plugs
  at(p, 8) = 30.0;
  at(p, 9) = 0.1;  // K
  at(p, 11) = kReferenceTemperature;
  at(p, 12) = 0.3;  // loss UA, W/K: bottom, three side thirds, top
  at(p, 13) = 0.6;
  at(p, 14) = 0.6;
  at(p, 15) = 0.6;
  at(p, 16) = 0.4;
  for (int d = 1; d <= 10; ++d) {
    at(p, 21 + 4 * (d - 1)) = -1.0;
    at(p, 22 + 4 * (d - 1)) = -1.0;
  }
  at(p, 21) = 0.02;  // port 1: draw-off, cold in at the bottom, hot out at the top
  at(p, 22) = 0.98;
  at(p, 25) = 0.9;  // port 2: heating loop, seeking inlet
  at(p, 26) = 0.1;
  at(p, 28) = 1.0;
  for (int i = 0; i < 10; ++i) at(p, 61 + i) = 0.05 + 0.1 * i;  // sensors
  for (int z = 0; z < 5; ++z) {
    at(p, 71 + 2 * z) = 0.2 * z;
    at(p, 72 + 2 * z) = 0.2 * (z + 1);
  }
  at(p, 85) = 2.0;
  const int solar = 86;  // on correlations, from 0.4 down to 0.05
  at(p, solar + 0) = 0.4;
  at(p, solar + 1) = 0.05;
  at(p, solar + 2) = 0.02;
  at(p, solar + 3) = 0.024;
  at(p, solar + 4) = 15.0;
  at(p, solar + 5) = 50.0;
  at(p, solar + 6) = 40.0;  // % glycol
  at(p, solar + 8) = 3.6;
  at(p, solar + 9) = 1040.0;
  at(p, solar + 10) = 20.0;
  const int boiler = 105;  // nominal UA with power laws, from 0.95 down to 0.65
  at(p, boiler + 0) = 0.95;
  at(p, boiler + 1) = 0.65;
  at(p, boiler + 7) = 0.003;
  at(p, boiler + 8) = 4.18;
  at(p, boiler + 9) = 1000.0;
  at(p, boiler + 10) = 6.0;
  at(p, boiler + 11) = 1.0;
  at(p, boiler + 14) = 0.3;
  at(p, boiler + 15) = 0.2;
  at(p, boiler + 16) = 0.1;
  at(p, boiler + 17) = 3000.0;  // kJ/(h K)
  at(p, 200) = 0.75;            // A1: electric element
  at(p, 212) = 0.3;             // B3: heat-pump evaporator taking heat
  return p;
}

// Thermostats on the sensors of the last step, with hysteresis.
struct Controls {
  bool solar = false;
  bool boiler = false;
  bool element = false;
  double top = kInitialTemperature;     // sensor 9 (0.85)
  double middle = kInitialTemperature;  // sensor 5 (0.45)
  double bottom = kInitialTemperature;  // sensor 1 (0.05)
};

// A pseudo-random number in [0, 1) for day d: the same weather every run.
double dayDraw(long d) {
  std::uint64_t x = static_cast<std::uint64_t>(d) * 0x9E3779B97F4A7C15ULL + 0x1234567ULL;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 29;
  return static_cast<double>(x >> 11) / 9007199254740992.0;
}

void setInputs(double time, Controls& c, Inputs& in) {
  const long day = static_cast<long>(std::floor(time / 24.0));
  const double hour = time - 24.0 * static_cast<double>(day);
  const double season = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (day % 365) / 365.0);
  const double weather = dayDraw(day);
  in.fill(0.0);
  at(in, 31) = 12.0 + 8.0 * season;  // cellar

  // Port 1: draws morning and evening; a short reversed flow at night (a
  // circulation loop returning at the top).
  at(in, 1) = 10.0 + 4.0 * season;
  at(in, 3) = 45.0;
  if ((hour > 6.5 && hour <= 7.0) || (hour > 19.0 && hour <= 19.3)) at(in, 2) = 600.0;
  if (hour > 2.0 && hour <= 2.2) at(in, 2) = -150.0;

  // Port 2: charged from the boiler loop at noon in winter, discharged to the
  // radiators (reversed) in the evening.
  at(in, 4) = 65.0;
  at(in, 6) = 30.0;
  if (season < 0.5 && hour > 11.0 && hour <= 12.0) at(in, 5) = 300.0;
  if (season < 0.6 && hour > 17.0 && hour <= 21.0) at(in, 5) = -200.0;

  // Solar coil: sunny days by season and weather, off when the top is hot.
  const double sun = std::max(0.0, std::sin(std::numbers::pi * (hour - 8.0) / 10.0));
  if (c.top > 85.0) c.solar = false;
  if (c.top < 80.0) c.solar = sun > 0.2 && weather < 0.3 + 0.6 * season;
  if (c.solar) {
    at(in, 32) = c.bottom + 5.0 + 30.0 * sun * (0.4 + 0.6 * season);
    at(in, 33) = 120.0;
  } else {
    at(in, 32) = c.bottom;
  }

  // Boiler coil keeps the top above 50 degC.
  if (c.top < 50.0) c.boiler = true;
  if (c.top > 56.0) c.boiler = false;
  at(in, 35) = 72.0;
  at(in, 36) = c.boiler ? 400.0 : 0.0;

  // Element at the top in summer; the evaporator takes heat mid-afternoon.
  if (c.top < 45.0) c.element = season > 0.5;
  if (c.top > 52.0) c.element = false;
  at(in, 50) = c.element ? 2.0 : 0.0;
  if (hour > 13.0 && hour <= 15.0 && c.middle > 35.0) at(in, 62) = -0.8;
}

// Memory of the process, read without allocating: the bytes malloc has
// handed out, and the anonymous resident size (heap and stacks, not the
// program's own pages, which come in as new code paths first run).
long heapBytes() { return static_cast<long>(mallinfo2().uordblks); }

long anonymousKiB() {
  const int fd = open("/proc/self/status", O_RDONLY);
  if (fd < 0) return 0;
  std::array<char, 4096> buf{};
  const ssize_t n = read(fd, buf.data(), buf.size() - 1);
  close(fd);
  if (n <= 0) return 0;
  const char* line = std::strstr(buf.data(), "RssAnon:");
  return line != nullptr ? std::atol(line + 8) : 0;
}

struct Figures {
  long steps = 0;
  double worstBalance = 0.0;      // |bal| / largest heat flow
  double worstEnergy = 0.0;       // |E - E0 - integral| / largest |E|
  double largestEnergyGap = 0.0;  // J
  long firstDayHeap = 0;          // bytes
  long largestHeap = 0;
  long firstDayAnonKiB = 0;
  long largestAnonKiB = 0;
  std::array<double, 6> hoursOn{};  // solar, boiler, element, evaporator, port 1 and 2 reversed
  double coldest = 1e9;             // degC, sensors
  double hottest = -1e9;
  long balanceFailures = 0;
  long energyFailures = 0;
  long memoryFailures = 0;
};

}  // namespace

int main(int argc, char** argv) {
  double years = 10.0;
  double step = 0.1;
  std::string lib = PLUGSTORE_COMPONENT;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (hasValue && std::strcmp(argv[i], "--years") == 0) {
      years = std::atof(argv[++i]);
    } else if (hasValue && std::strcmp(argv[i], "--step") == 0) {
      step = std::atof(argv[++i]);
    } else if (hasValue && std::strcmp(argv[i], "--lib") == 0) {
      lib = argv[++i];
    } else {
      std::fprintf(stderr, "usage: soak [--years N] [--step H] [--lib PATH]\n");
      return 2;
    }
  }
  standin::Component component(lib);
  if (!component.loaded()) {
    std::fprintf(stderr, "soak: %s\n", component.error().c_str());
    return 2;
  }
  standin::Kernel& kernel = standin::kernel();
  kernel.echo = false;

  standin::RunConfig cfg;
  cfg.stop = years * 8760.0;
  cfg.step = step;
  cfg.iterations = 2;
  cfg.parameters = busyStore();
  const long stepsPerDay = std::lround(24.0 / step);
  const double dtSec = step * 3600.0;
  const double capTot = kVolume * kDensity * kSpecificHeat * 1000.0;
  const double e0 = capTot * (kInitialTemperature - kReferenceTemperature);

  Controls controls;
  Figures fig;
  double integral = 0.0;  // J, of heat into the plugs - losses + ports
  double largestE = std::fabs(e0);
  std::size_t messagesSeen = 0;
  long unexpected = 0;
  standin::RunHooks hooks;
  Inputs lastIn{};
  hooks.inputs = [&](double time, int, Inputs& in) {
    setInputs(time, controls, in);
    lastIn = in;
  };
  hooks.outputs = [&](double time, int k, const Outputs& out) {
    ++fig.steps;
    controls.top = at(out, 79);
    controls.middle = at(out, 75);
    controls.bottom = at(out, 71);

    const std::array<bool, 6> on = {
        at(out, 105) != 0.0, at(out, 115) != 0.0, at(out, 182) != 0.0 && controls.element,
        at(out, 181) < 0.0,  lastIn[1] < 0.0,     lastIn[4] < 0.0};
    for (std::size_t i = 0; i < on.size(); ++i) fig.hoursOn[i] += on[i] ? step : 0.0;
    for (int n = 71; n <= 80; ++n) {
      fig.coldest = std::min(fig.coldest, at(out, n));
      fig.hottest = std::max(fig.hottest, at(out, n));
    }

    const double bal = std::fabs(at(out, 64));
    const double largest = std::max({std::fabs(at(out, 176)), std::fabs(at(out, 177)),
                                     std::fabs(at(out, 178)), std::fabs(at(out, 179))});
    const double ratio = largest > 0.0 ? bal / largest : bal;
    fig.worstBalance = std::max(fig.worstBalance, ratio);
    if (ratio > 1e-9 && fig.balanceFailures++ == 0) {
      std::fprintf(stderr, "soak: at %.1f h the balance is %g kW, %g of the largest flow\n", time,
                   at(out, 64), ratio);
    }

    integral += (at(out, 176) - at(out, 177) + at(out, 179)) * 1000.0 * dtSec;
    const double e = at(out, 61) * 1e6;
    const double gap = std::fabs(e - (e0 + integral));
    fig.largestEnergyGap = std::max(fig.largestEnergyGap, gap);
    // E is taken from the reference temperature and passes through 0: the
    // gap is measured against the largest stored energy of the run so far.
    largestE = std::max(largestE, std::fabs(e));
    const double rel = gap / largestE;
    fig.worstEnergy = std::max(fig.worstEnergy, rel);
    if (rel > 1e-9 && fig.energyFailures++ == 0) {
      std::fprintf(stderr, "soak: at %.1f h the stored energy differs by %g J (%g)\n", time,
                   e - (e0 + integral), rel);
    }

    // Once a day: memory, and the messages.
    if (k % stepsPerDay != 0) return;
    const long heap = heapBytes();
    const long anon = anonymousKiB();
    if (k == stepsPerDay) {
      fig.firstDayHeap = heap;
      fig.firstDayAnonKiB = anon;
    }
    fig.largestHeap = std::max(fig.largestHeap, heap);
    fig.largestAnonKiB = std::max(fig.largestAnonKiB, anon);
    if ((heap > fig.firstDayHeap || anon > fig.firstDayAnonKiB) && fig.memoryFailures++ == 0) {
      std::fprintf(stderr,
                   "soak: on day %ld the heap holds %ld bytes (%ld after the first day), the "
                   "anonymous resident size is %ld KiB (%ld)\n",
                   k / stepsPerDay, heap, fig.firstDayHeap, anon, fig.firstDayAnonKiB);
    }
    for (; messagesSeen < kernel.messages.size(); ++messagesSeen) {
      const standin::Message& m = kernel.messages[messagesSeen];
      if (m.severity == "NOTICE") continue;
      if (unexpected++ < 5) {
        std::fprintf(stderr, "soak: unexpected message at %.1f h: %s: %s\n", time,
                     m.severity.c_str(), m.text.c_str());
      }
    }
  };

  const auto began = std::chrono::steady_clock::now();
  const standin::RunResult r = standin::runSimulation(component, cfg, hooks);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  for (; messagesSeen < kernel.messages.size(); ++messagesSeen) {
    const standin::Message& m = kernel.messages[messagesSeen];
    if (m.severity != "NOTICE") ++unexpected;
  }

  std::printf("soak: %.4g years at %.4g h steps: %ld steps, exit status %d, %.1f s wall\n",
              static_cast<double>(fig.steps) * step / 8760.0, step, fig.steps, r.exitStatus, wall);
  std::printf("  main balance: largest |bal| / largest heat flow %.3g (limit 1e-9)\n",
              fig.worstBalance);
  std::printf(
      "  stored energy vs start + integral: largest gap %.3g J, %.3g of the largest"
      " stored energy (limit 1e-9)\n",
      fig.largestEnergyGap, fig.worstEnergy);
  std::printf(
      "  memory after the first day: heap %ld bytes, anonymous resident %ld KiB; at most"
      " %ld bytes and %ld KiB after it\n",
      fig.firstDayHeap, fig.firstDayAnonKiB, fig.largestHeap, fig.largestAnonKiB);
  std::printf(
      "  hours on: solar coil %.0f, boiler coil %.0f, element %.0f, evaporator %.0f;"
      " reversed: port 1 %.0f, port 2 %.0f; sensors %.1f ... %.1f degC\n",
      fig.hoursOn[0], fig.hoursOn[1], fig.hoursOn[2], fig.hoursOn[3], fig.hoursOn[4],
      fig.hoursOn[5], fig.coldest, fig.hottest);
  std::printf("  messages other than notices: %ld\n", unexpected);
  const bool ok = r.exitStatus == 0 && fig.balanceFailures == 0 && fig.energyFailures == 0 &&
                  fig.memoryFailures == 0 && unexpected == 0 &&
                  fig.steps == std::lround(cfg.stop / step);
  std::printf("soak: %s\n", ok ? "every check held" : "FAILED");
  std::fflush(stdout);
  return ok ? 0 : 1;
}
