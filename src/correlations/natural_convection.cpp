// Natural convection outside an immersed tube and conduction across its wall.
#include <cmath>

#include "correlations/correlations.h"

namespace plugstore {
namespace {

constexpr double kGravity = 9.81;  // m/s2
// Churchill-Chu exponents 1/6 and 8/27 as single-precision values.
constexpr double kOneSixth = 0.1666666716337204;
constexpr double kEightTwentySevenths = 0.29629629850387573;

}  // namespace

double waterExpansion(double t) {
  if (t > 8.0) return (0.8 * std::pow(t, 0.5348) - 1.9114) * 1e-4;
  if (t < 1.0) return 5.22e-5;
  return 3.257e-6 * (t * t) - 2.606e-5 * t + 5.22e-5;
}

PowerLaw cylinderPowerLawConstants(double ra) {
  if (ra <= 0.01) return {0.675, 0.058};
  if (ra <= 100.0) return {1.02, 0.148};
  if (ra <= 10000.0) return {0.85, 0.188};
  if (ra <= 10000000.0) return {0.48, 0.25};
  return {0.125, 0.333};
}

void calculateHeatTransCoefImmersedPlate(HostServices& host, double tFilm, double tA, double tB,
                                         double l, double& hOut, double cUser, double nUser,
                                         double& ra, double& nu, int unit, int type) {
  const double cp = waterSpecificHeat(tFilm);
  const double lambda = waterConductivity(tFilm);
  const double rho = waterDensity(tFilm);
  const double visc = waterKinematicViscosity(tFilm);
  const double mu = visc * rho;
  const double beta = waterExpansion(tFilm);

  double dT = std::fabs(tA - tB);
  if (dT < 0.1) dT = 0.1;
  ra = kGravity * beta * (rho * rho) * dT * (l * l * l) * cp / (mu * lambda);

  if (cUser > 0.0 && nUser > 0.0) {
    const PowerLaw law =
        (cUser > 1.0 || nUser > 1.0) ? cylinderPowerLawConstants(ra) : PowerLaw{cUser, nUser};
    nu = law.k * std::pow(ra, law.m);
  } else {
    const double pr = mu * cp / (lambda + 1e-30);
    const double root =
        0.6 + 0.387 * std::pow(ra, kOneSixth) /
                  std::pow(1.0 + std::pow(0.559 / pr, 0.5625), kEightTwentySevenths);
    nu = root * root;
  }
  hOut = nu * lambda / l;

  if (std::isnan(hOut)) {
    TextLine text;
    text << "calculateHeatTransCoefImmersedPlate: FATAL ERROR : hOut NAN. tFilm= = " << tFilm;
    host.messages(-1, text.view(), "FATAL", unit, type);
  }
}

void calculateHeatTransferWall(HostServices& host, double lambdaWall, double d1, double d2,
                               double& hWall, int geometry, int unit, int type) {
  if (geometry == 0) {
    hWall = lambdaWall / d1;
  } else if (geometry == 1) {
    hWall = 1.0 / (std::log(d2 / d1) * 0.5 * d2 / lambdaWall + 1e-30);
  } else {
    TextLine text;
    text << "calculateHeatTransferWall FATAL: ERROR IN GEOMETRY=" << geometry;
    host.messages(-1, text.view(), "FATAL", unit, type);
  }
}

}  // namespace plugstore
