#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "correlations/correlations.h"
#include "support/recording_host.h"

namespace plugstore {
namespace {

using test::RecordingHost;

struct Outside {
  double hOut = 0.0;
  double ra = 0.0;
  double nu = 0.0;
};

Outside outside(RecordingHost& host, double tFilm, double tA, double tB, double l, double cUser,
                double nUser) {
  Outside o;
  calculateHeatTransCoefImmersedPlate(host, tFilm, tA, tB, l, o.hOut, cUser, nUser, o.ra, o.nu, 3,
                                      8642);
  return o;
}

TEST(ImmersedCoil, RayleighPowerLawsAndChurchillChu) {
  RecordingHost host;
  EXPECT_NEAR(waterExpansion(8.0), 5.2168e-5, 1e-18);
  EXPECT_DOUBLE_EQ(waterExpansion(0.5), 5.22e-5);

  // Textbook form g beta dT L^3 / (nu a), with the driving difference at
  // least 0.1 K.
  const double t = 45.0;
  const double a = waterConductivity(t) / (waterDensity(t) * waterSpecificHeat(t));
  const double ra01 =
      9.81 * waterExpansion(t) * 0.1 * std::pow(0.018, 3) / (waterKinematicViscosity(t) * a);
  EXPECT_NEAR(outside(host, t, 40.0, 40.0, 0.018, 0.5, 0.25).ra / ra01, 1.0, 1e-12);
  EXPECT_NEAR(outside(host, t, 40.0, 50.0, 0.018, 0.5, 0.25).ra / ra01, 100.0, 1e-10);

  const Outside user = outside(host, t, 50.0, 40.0, 0.018, 0.5, 0.25);
  EXPECT_NEAR(user.nu, 0.5 * std::pow(user.ra, 0.25), 1e-12);
  EXPECT_NEAR(user.hOut, user.nu * waterConductivity(t) / 0.018, 1e-9);
  const Outside tab = outside(host, t, 50.0, 40.0, 0.001, 2.0, 0.25);  // Ra about 400
  EXPECT_NEAR(tab.nu, 0.85 * std::pow(tab.ra, 0.188), 1e-12);

  const Outside cc = outside(host, t, 50.0, 40.0, 0.018, 0.0, 0.25);
  const double pr = waterKinematicViscosity(t) / a;
  const double root = 0.6 + 0.387 * std::pow(cc.ra, 1.0 / 6.0) /
                                std::pow(1.0 + std::pow(0.559 / pr, 0.5625), 8.0 / 27.0);
  EXPECT_NEAR(cc.nu / (root * root), 1.0, 1e-6);
  EXPECT_EQ(outside(host, t, 50.0, 40.0, 0.018, 0.5, -1.0).nu, cc.nu);
  EXPECT_TRUE(host.messagesSent.empty());

  const Outside bad =
      outside(host, 42.5, 50.0, 40.0, std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0);
  EXPECT_TRUE(std::isnan(bad.hOut));
  ASSERT_EQ(host.messagesSent.size(), 1U);
  EXPECT_EQ(host.messagesSent[0].text,
            "calculateHeatTransCoefImmersedPlate: FATAL ERROR : hOut NAN. tFilm= = 42.5");
  EXPECT_EQ(host.messagesSent[0].severity, "FATAL");
}

TEST(ImmersedCoil, TableRowsSwitchAboveTheirUpperBounds) {
  EXPECT_EQ(cylinderPowerLawConstants(0.01).k, 0.675);
  EXPECT_EQ(cylinderPowerLawConstants(0.01).m, 0.058);
  EXPECT_EQ(cylinderPowerLawConstants(100.0).k, 1.02);
  EXPECT_EQ(cylinderPowerLawConstants(100.0).m, 0.148);
  EXPECT_EQ(cylinderPowerLawConstants(100.0001).k, 0.85);
  EXPECT_EQ(cylinderPowerLawConstants(100.0001).m, 0.188);
  EXPECT_EQ(cylinderPowerLawConstants(1e4).k, 0.85);
  EXPECT_EQ(cylinderPowerLawConstants(1e7).m, 0.25);
  EXPECT_EQ(cylinderPowerLawConstants(1.0000001e7).m, 0.333);
}

TEST(Wall, TubeFlatAndUnknownGeometry) {
  RecordingHost host;
  double h = 0.0;
  calculateHeatTransferWall(host, 380.0, 0.016, 0.018, h, 1, 3, 8642);
  EXPECT_NEAR(h, 1.0 / (std::log(1.125) * 0.009 / 380.0), 1e-6);
  EXPECT_NEAR(h, 3.585e5, 0.001e5);
  calculateHeatTransferWall(host, 380.0, 0.002, 0.0, h, 0, 3, 8642);
  EXPECT_DOUBLE_EQ(h, 190000.0);
  calculateHeatTransferWall(host, 380.0, 0.016, 0.018, h, 2, 3, 8642);
  EXPECT_DOUBLE_EQ(h, 190000.0);  // left as it was
  ASSERT_EQ(host.messagesSent.size(), 1U);
  EXPECT_EQ(host.messagesSent[0].text, "calculateHeatTransferWall FATAL: ERROR IN GEOMETRY=2");
  EXPECT_EQ(host.messagesSent[0].severity, "FATAL");
}

}  // namespace
}  // namespace plugstore
