// Reference values of the mixture fits and of Churchill-Chu, evaluated
// separately from the fit coefficients, away from the points where
// odd Chebyshev terms or single-precision exponents would drop out.
#include <gtest/gtest.h>

#include <cmath>

#include "correlations/correlations.h"
#include "support/recording_host.h"

namespace plugstore {
namespace {

// Relative closeness: a wrong digit in any coefficient shows far above this.
void expectClose(double value, double reference, double rel) {
  EXPECT_NEAR(value / reference, 1.0, rel) << value << " vs " << reference;
}

TEST(MixtureFits, EveryChebyshevTermAndPolynomialCoefficientCounts) {
  // T1, T3 and T5 are non-zero here, so a coefficient paired with the wrong
  // polynomial (x with y, numerator with denominator) moves the result.
  expectClose(chebyshevRatioFit(30.0, 20.0), 1.049413035489202, 1e-14);
  expectClose(chebyshevRatioFit(10.0, -10.0), 1.0191434605841918, 1e-14);
  expectClose(chebyshevRatioFit(75.0, 90.0), 1.0666818013300172, 1e-14);
  expectClose(fluidDensity(75.0, 90.0), 1066.6818013300172, 1e-14);

  expectClose(fluidSpecificHeat(30.0, 20.0), 3731.290099454859, 1e-14);
  expectClose(fluidConductivity(30.0, 20.0), 0.4742935675834529, 1e-14);
  expectClose(fluidKinematicViscosity(30.0, 20.0), 2.3843748308399623e-06, 1e-14);
  expectClose(fluidSpecificHeat(75.0, 90.0), 3186.9571698443083, 1e-14);
  expectClose(fluidConductivity(75.0, 90.0), 0.30914557851413005, 1e-14);
  expectClose(fluidKinematicViscosity(75.0, 90.0), 1.6356149786730892e-06, 1e-14);
}

TEST(ImmersedCoilReference, ChurchillChuWithItsSinglePrecisionExponents) {
  test::RecordingHost host;
  double hOut = 0.0;
  double ra = 0.0;
  double nu = 0.0;
  calculateHeatTransCoefImmersedPlate(host, 45.0, 50.0, 40.0, 0.018, hOut, 0.0, 0.0, ra, nu, 3,
                                      8642);
  expectClose(ra, 2337169.1644070535, 1e-13);
  // With the exact exponents 1/6 and 8/27 Nu would be 22.201882348439263,
  // about 1.3e-7 lower.
  expectClose(nu, 22.201885147573275, 1e-12);
  expectClose(hOut, 782.0768418855159, 1e-12);
  EXPECT_TRUE(host.messagesSent.empty());
}

}  // namespace
}  // namespace plugstore
