// Properties of water and water-antifreeze mixtures, and forced convection
// inside the heat-exchanger pipe.
#include <algorithm>
#include <array>
#include <cmath>

#include "correlations/correlations.h"

namespace plugstore {
namespace {

// Below this concentration (percent) the fluid is pure water.
constexpr double kConcWater = 0.001;

// Coefficients r0 ... r22 of the rational Chebyshev density fit.
constexpr std::array<double, 23> kDensityFit = {
    0.01953055969786295,     -0.1285671415225388,   0.1294231581454231,    0.6816495959420305,
    -0.3575538097164653,     0.04965691136446271,   -0.08477006297533489,  -0.0867701202858524,
    -0.08706374513717988,    0.02510117459658974,   -0.008050075207446591, 0.009451106482821698,
    0.02001072910627018,     -0.01580223956530836,  0.002123046330383432,  0.01225430487063658,
    0.005153019143803391,    -0.001863831885494377, -0.003652859624057242, -0.003561961931131665,
    -0.00003396406970700756, -0.008822474424373948, -0.003196774313307572};

// Chebyshev polynomials T0 ... T6 at s.
std::array<double, 7> chebyshev(double s) {
  std::array<double, 7> tn{};
  tn[0] = 1.0;
  tn[1] = s;
  for (std::size_t k = 1; k < 6; ++k) tn[k + 1] = 2.0 * s * tn[k] - tn[k - 1];
  return tn;
}

}  // namespace

double waterDensity(double t) {
  if (t > 8.0) return 1000.0 - 0.0128 * std::pow(t, 1.76);
  if (t < 1.0) return 999.5;
  return 999.5 + 0.1237 * t - 0.01546 * (t * t);
}

double waterSpecificHeat(double t) {
  if (t <= 0.5) return 4209.1;
  return 4209.1 - 1.328 * t + 0.01432 * (t * t);
}

double waterConductivity(double t) {
  if (t <= 0.5) return 0.52;
  return 0.52 + 0.0198 * std::pow(t, 0.46);
}

double waterKinematicViscosity(double t) {
  if (t <= 0.5) return 1.477e-6;
  return 1.477e-6 * std::exp(-0.01747 * t);
}

double chebyshevRatioFit(double conc, double t) {
  const auto& r = kDensityFit;
  const double x = std::clamp((conc - 50.0) / 50.0, -1.0, 1.0);
  const double y = std::clamp((t - 40.0) / 80.0, -1.0, 1.0);
  const std::array<double, 7> tx = chebyshev(x);
  const std::array<double, 7> ty = chebyshev(y);
  double num = r[0];
  for (std::size_t k = 1; k <= 5; ++k) num = num + r[4 * k - 1] * tx[k] + r[4 * k] * ty[k];
  double den = 1.0 + r[1] * tx[1] + r[2] * ty[1];
  for (std::size_t k = 2; k <= 6; ++k) den = den + r[4 * k - 3] * tx[k] + r[4 * k - 2] * ty[k];
  if (den == 0.0) return 0.0;
  return num / den * 0.1065 + 1.0495;
}

double fluidDensity(double conc, double t) {
  if (conc < kConcWater) return waterDensity(t);
  return 1000.0 * chebyshevRatioFit(conc, t);
}

double fluidSpecificHeat(double conc, double t) {
  if (conc < kConcWater) return waterSpecificHeat(t);
  const double nc =
      ((-7.254731103592794e-6 * conc + 0.001721285576589111) * conc - 0.1284734006185055) * conc +
      4.187215724620146;
  const double dc =
      ((-1.336458939136372e-6 * conc + 0.0003711762756828782) * conc - 0.0280995830314945) * conc +
      1.0;
  const double nt = (5.708359419409403e-6 * t + 0.005560804328893099) * t;
  const double dt = 0.001368223833593263 * t;
  return 1000.0 * (nc + nt) / (dc + dt);
}

double fluidConductivity(double conc, double t) {
  if (conc < kConcWater) return waterConductivity(t);
  const double nc =
      ((-6.445468236604122e-7 * conc + 0.0001645555229344245) * conc - 0.01193439180735611) * conc +
      0.5788960571804519;
  const double dc = (0.0001594368726120601 * conc - 0.01306568812884102) * conc + 1.0;
  const double nt = (1.264728802532987e-5 * t - 0.003159998140240872) * t;
  const double dt = (2.924554017266508e-5 * t - 0.007228670055182665) * t;
  return (nc + nt) / (dc + dt);
}

double fluidKinematicViscosity(double conc, double t) {
  if (conc < kConcWater) return waterKinematicViscosity(t);
  const double p = (5.080655484562748e-5 * conc + 0.02058411691044437) * conc + 1.976480821894529 +
                   (0.0001174060019474829 * t - 0.01762174452170111) * t -
                   1.106550029261898e-6 * conc * t;
  const double q = (7.468375992873698e-5 * conc - 0.01694716459943308) * conc + 1.0 +
                   (0.0001346786752652095 * t + 0.02535986151154673) * t -
                   0.0002352776033071207 * conc * t;
  return 1e-6 * p / q;
}

void calculateHeatTransCoefPipeIn(HostServices& host, double tAv, double conc, double dim1,
                                  double dim2, double v, double& hIn, int crossSectionType,
                                  double fLam, int unit, int type, double& re, double& nu) {
  // Pure water is only evaluated where its fits hold; mixtures are not clipped.
  const double tp = conc == 0.0 ? std::clamp(tAv, 1.0, 99.0) : tAv;
  const double cp = fluidSpecificHeat(conc, tp);
  const double lambda = fluidConductivity(conc, tp);
  const double visc = fluidKinematicViscosity(conc, tp);
  const double rho = fluidDensity(conc, tp);
  const double a = lambda / (rho * cp);
  const double pr = visc / a;

  const double dh = crossSectionType == -1 ? 4.0 * dim1 * dim2 / (2.0 * dim1 + 2.0 * dim2) : dim1;
  re = v * dh / visc;

  if (re < 2300.0) {
    nu = fLam >= 0.0 ? 4.36 * fLam : 4.36;
  } else {
    const double f = re < 20000.0 ? 0.316 * std::pow(re, -0.25) : 0.184 * std::pow(re, -0.2);
    nu = (f / 8.0) * (re - 1000.0) * pr /
         (1.0 + 12.7 * std::sqrt(f / 8.0) * (std::pow(pr, 2.0 / 3.0) - 1.0));
  }
  hIn = nu * lambda / dh;

  if (std::isnan(hIn)) {
    TextLine text;
    text << "calculateHeatTransCoefPipeIn: FATAL ERROR : hIn NAN. tAv= = " << tp;
    host.messages(-1, text.view(), "FATAL", unit, type);
  }
}

}  // namespace plugstore
