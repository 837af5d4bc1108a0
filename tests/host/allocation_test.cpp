// No call after the initial one allocates memory: a simulation of a year at
// minute steps makes millions of calls inside the host's process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "support/fixtures.h"
#include "support/named_values.h"

// The replacement operators pair malloc with free on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  if (counting.load()) ++allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// The no-throw form too: a store of a unit is made with it, and freed with the
// plain delete above, which must pair with the same allocator.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (counting.load()) ++allocations;
  return std::malloc(n == 0 ? 1 : n);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace plugstore::test {
namespace {

TEST(Allocation, IterativeAndEndOfStepCallsAllocateNothing) {
  State st;
  RecordingHost host;
  host.timeStepHours = 0.1;
  Protocol proto(st, host);
  Parameters par = validParameters();
  param(par, "store.conductivity") = 0.6;
  param(par, "loss.uaSideMiddle") = 1.0;
  param(par, "port1.heightA") = 0.02;
  param(par, "port1.heightB") = 0.98;
  param(par, "port2.heightA") = 0.9;
  param(par, "port2.heightB") = 0.1;
  param(par, "port2.inletMode") = 1.0;
  param(par, "hx.count") = 1.0;
  param(par, "hx1.inletHeight") = 0.5;
  param(par, "hx1.outletHeight") = 0.1;
  param(par, "hx1.innerDiameter") = 0.016;
  param(par, "hx1.outerDiameter") = 0.018;
  param(par, "hx1.length") = 10.0;
  param(par, "hx1.wallConductivity") = 380.0;
  param(par, "hx1.specificHeat") = 3.8;
  param(par, "hx1.density") = 1030.0;
  param(par, "hx1.numberOfCv") = 15.0;
  param(par, "heatA1.height") = 0.8;
  Inputs in{};
  input(in, "ambient.temperature") = 15.0;
  input(in, "port1.temperatureA") = 10.0;
  input(in, "port1.massFlow") = 200.0;
  input(in, "port1.temperatureB") = 30.0;
  input(in, "port2.temperatureA") = 45.0;
  input(in, "port2.massFlow") = 300.0;
  input(in, "hx1.inletTemperature") = 75.0;
  input(in, "hx1.massFlow") = 150.0;
  input(in, "heatA1.power") = 2.0;
  Outputs out{};
  proto.startOfSimulation();
  proto.initialCall(par);
  ASSERT_TRUE(host.badParameters.empty());

  const std::size_t messagesBefore = host.messagesSent.size();
  counting = true;
  for (int k = 1; k <= 60; ++k) {
    const double time = 0.1 * k;
    // reverse the draw now and then, so plugs are split, merged and sorted
    input(in, "port1.massFlow") = (k % 7 == 0) ? -150.0 : 200.0;
    proto.iterativeCall(time, par, in, out, 0);
    proto.iterativeCall(time, par, in, out, 1);
    proto.endOfTimeStep(time, par);
  }
  counting = false;
  for (std::size_t i = messagesBefore; i < host.messagesSent.size(); ++i) {
    ADD_FAILURE() << host.messagesSent[i].severity << ": " << host.messagesSent[i].text;
  }
  EXPECT_EQ(allocations.load(), 0);
  // The recording host allocates for every message; none may have come.
  EXPECT_EQ(host.messagesSent.size(), messagesBefore);
  EXPECT_TRUE(host.debugLines.empty());
  EXPECT_FALSE(st.stopped);
  EXPECT_GT(output(out, "store.plugCount"), 10.0);
}

}  // namespace
}  // namespace plugstore::test
