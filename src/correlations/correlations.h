// Fluid properties and heat-transfer coefficients of immersed heat exchangers.
//
// Pure functions on doubles: no allocation, no state. The host appears only
// to report a coefficient that came out as not-a-number, or a bad wall
// geometry; unit and type are the numbers that go with those messages.
//
// Units: temperature degC, concentration in percent (below 0.001 means pure
// water), density kg/m3, specific heat J/(kg K), conductivity W/(m K),
// kinematic viscosity m2/s, lengths m, velocity m/s, coefficients W/(m2 K).
#pragma once

#include "host/host_services.h"

namespace plugstore {

// ---------------------------------------------------------------- water
double waterDensity(double t);
double waterSpecificHeat(double t);
double waterConductivity(double t);
double waterKinematicViscosity(double t);
// Volumetric thermal expansion coefficient, 1/K.
double waterExpansion(double t);

// ---------------------------------------------------------------- water-antifreeze
double fluidDensity(double conc, double t);
double fluidSpecificHeat(double conc, double t);
double fluidConductivity(double conc, double t);
double fluidKinematicViscosity(double conc, double t);
// Rational Chebyshev fit of the mixture density in g/cm3 (inputs clipped to
// the fitted range 0 ... 100 % and -40 ... 120 degC).
double chebyshevRatioFit(double conc, double t);

// ---------------------------------------------------------------- coefficients

// Forced convection inside a pipe: laminar (4.36 x fLam) below Re 2300,
// otherwise Gnielinski. crossSectionType -1 is a dim1 x dim2 rectangular
// channel, anything else a circular tube of diameter dim1.
void calculateHeatTransCoefPipeIn(HostServices& host, double tAv, double conc, double dim1,
                                  double dim2, double v, double& hIn, int crossSectionType,
                                  double fLam, int unit, int type, double& re, double& nu);

// Natural convection outside a horizontal tube of outer diameter l in store
// water at film temperature tFilm, driven by |tA - tB| (at least 0.1 K).
// cUser, nUser > 0 give a power law K Ra^m (tabulated K, m when either is
// above 1); otherwise Churchill-Chu.
void calculateHeatTransCoefImmersedPlate(HostServices& host, double tFilm, double tA, double tB,
                                         double l, double& hOut, double cUser, double nUser,
                                         double& ra, double& nu, int unit, int type);

// Constants K and m of the tabulated power law for horizontal cylinders.
struct PowerLaw {
  double k;
  double m;
};
PowerLaw cylinderPowerLawConstants(double ra);

// Wall conductance per unit area: geometry 0 flat (thickness d1), 1 tube
// (inner d1, outer d2, referred to the outer surface). Any other geometry
// is reported and leaves hWall as it was.
void calculateHeatTransferWall(HostServices& host, double lambdaWall, double d1, double d2,
                               double& hWall, int geometry, int unit, int type);

}  // namespace plugstore
