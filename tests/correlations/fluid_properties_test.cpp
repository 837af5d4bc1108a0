#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "correlations/correlations.h"
#include "support/recording_host.h"

namespace plugstore {
namespace {

using test::RecordingHost;

TEST(Properties, WaterBranchesMixtureThresholdAndFitClipping) {
  EXPECT_NEAR(waterDensity(4.0), 999.74744, 1e-9);
  EXPECT_NEAR(waterDensity(8.0), 999.50016, 1e-9);  // 8 still on the quadratic
  EXPECT_NEAR(waterDensity(20.0), 1000.0 - 0.0128 * std::pow(20.0, 1.76), 1e-12);
  EXPECT_DOUBLE_EQ(waterSpecificHeat(0.5), 4209.1);
  EXPECT_DOUBLE_EQ(waterConductivity(0.0), 0.52);
  EXPECT_NEAR(waterKinematicViscosity(20.0), 1.477e-6 * std::exp(-0.3494), 1e-20);

  EXPECT_EQ(fluidDensity(0.0005, 20.0), waterDensity(20.0));
  EXPECT_EQ(fluidSpecificHeat(0.0005, 20.0), waterSpecificHeat(20.0));
  EXPECT_EQ(fluidConductivity(0.0005, 20.0), waterConductivity(20.0));
  EXPECT_EQ(fluidKinematicViscosity(0.0005, 20.0), waterKinematicViscosity(20.0));
  EXPECT_EQ(fluidDensity(0.001, 20.0), 1000.0 * chebyshevRatioFit(0.001, 20.0));
  EXPECT_NE(fluidDensity(0.001, 20.0), waterDensity(20.0));

  // At the centre of the fit T1 = T3 = T5 = 0, T2 = T6 = -1 and T4 = 1.
  const double num = 0.01953055969786295 + 0.0867701202858524 + 0.08706374513717988 +
                     0.01225430487063658 + 0.005153019143803391;
  const double den = 1.0 - 0.04965691136446271 + 0.08477006297533489 - 0.01580223956530836 +
                     0.002123046330383432 + 0.008822474424373948 + 0.003196774313307572;
  EXPECT_NEAR(fluidDensity(50.0, 40.0), 1000.0 * (num / den * 0.1065 + 1.0495), 1e-11);
  EXPECT_EQ(fluidDensity(120.0, 20.0), fluidDensity(100.0, 20.0));
  EXPECT_EQ(fluidDensity(30.0, -60.0), fluidDensity(30.0, -40.0));
  EXPECT_NE(fluidDensity(99.0, 20.0), fluidDensity(100.0, 20.0));
}

// Velocity whose Reynolds number in a water tube of diameter d at t is
// exactly re, as the correlation computes it.
double velocityFor(double re, double t, double d) {
  const double visc = waterKinematicViscosity(t);
  double v = re * visc / d;
  for (int i = 0; i < 64 && v * d / visc != re; ++i) {
    v = std::nextafter(v, v * d / visc < re ? 1e9 : 0.0);
  }
  return v;
}

struct Pipe {
  double hIn = 0.0;
  double re = 0.0;
  double nu = 0.0;
};

Pipe pipe(RecordingHost& host, double tAv, double conc, double d1, double d2, double v,
          int section = 0) {
  Pipe r;
  calculateHeatTransCoefPipeIn(host, tAv, conc, d1, d2, v, r.hIn, section, 1.0, 7, 8642, r.re,
                               r.nu);
  return r;
}

double gnielinski(double re, double f, double t) {
  const double pr =
      waterKinematicViscosity(t) * waterDensity(t) * waterSpecificHeat(t) / waterConductivity(t);
  return (f / 8.0) * (re - 1000.0) * pr /
         (1.0 + 12.7 * std::sqrt(f / 8.0) * (std::pow(pr, 2.0 / 3.0) - 1.0));
}

TEST(PipeIn, LaminarBelow2300ThenGnielinskiWithTwoFrictionLaws) {
  RecordingHost host;
  const double d = 0.016;
  const double t = 40.0;
  const Pipe lam = pipe(host, t, 0.0, d, 0.0, velocityFor(2299.9, t, d));
  EXPECT_DOUBLE_EQ(lam.re, 2299.9);
  EXPECT_DOUBLE_EQ(lam.nu, 4.36);
  EXPECT_DOUBLE_EQ(lam.hIn, 4.36 * waterConductivity(t) / d);

  const Pipe tr = pipe(host, t, 0.0, d, 0.0, velocityFor(2300.0, t, d));
  ASSERT_EQ(tr.re, 2300.0);
  EXPECT_NEAR(tr.nu, gnielinski(2300.0, 0.316 * std::pow(2300.0, -0.25), t), 1e-12);

  const Pipe turb = pipe(host, t, 0.0, d, 0.0, velocityFor(20000.0, t, d));
  ASSERT_EQ(turb.re, 20000.0);
  EXPECT_NEAR(turb.nu, gnielinski(20000.0, 0.184 * std::pow(20000.0, -0.2), t), 1e-10);
  // Independent check: within 10 % of Dittus-Boelter.
  const double pr =
      waterKinematicViscosity(t) * waterDensity(t) * waterSpecificHeat(t) / waterConductivity(t);
  EXPECT_NEAR(turb.nu / (0.023 * std::pow(20000.0, 0.8) * std::pow(pr, 0.4)), 1.0, 0.1);
  EXPECT_TRUE(host.messagesSent.empty());
}

TEST(PipeIn, RectangularChannelAndClippedPureWater) {
  RecordingHost host;
  const Pipe r = pipe(host, 30.0, 0.0, 0.02, 0.01, 0.05, -1);
  EXPECT_NEAR(r.re * waterKinematicViscosity(30.0) / 0.05, 0.0133333333333333, 1e-15);
  EXPECT_NEAR(r.hIn, 4.36 * waterConductivity(30.0) / (0.04 / 3.0), 1e-10);

  EXPECT_EQ(pipe(host, 120.0, 0.0, 0.016, 0.0, 0.5).re, pipe(host, 99.0, 0.0, 0.016, 0.0, 0.5).re);
  EXPECT_NE(pipe(host, 120.0, 0.0005, 0.016, 0.0, 0.5).re,
            pipe(host, 99.0, 0.0005, 0.016, 0.0, 0.5).re);
  EXPECT_TRUE(host.messagesSent.empty());

  const Pipe bad = pipe(host, 120.0, 0.0, 0.016, 0.0, std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(std::isnan(bad.hIn));
  ASSERT_EQ(host.messagesSent.size(), 1U);
  EXPECT_EQ(host.messagesSent[0].text,
            "calculateHeatTransCoefPipeIn: FATAL ERROR : hIn NAN. tAv= = 99.0");
  EXPECT_EQ(host.messagesSent[0].severity, "FATAL");
  EXPECT_EQ(host.messagesSent[0].unit, 7);
}

}  // namespace
}  // namespace plugstore
