// Hourly weather from EPW files: dry-bulb temperature and the global,
// direct normal and diffuse irradiance of each hour, transposed onto a
// tilted plane with the isotropic-sky model.
//
// Conventions: latitude positive north, longitude positive east and the time
// zone in hours from UTC, as the file's LOCATION line gives them; the plane's
// tilt from the horizontal (0 ... 180 degrees), its azimuth 0 facing the
// equator's side south, positive towards west (90 = west, -90 = east, 180 =
// north). Row hour h is the hour that ends at h o'clock standard time; the
// sun is placed at its middle. Simulation time 0 is 1 January, 0 h, of a
// year of 365 days: the hour of a row is its time from there, and each
// hour's value holds over that hour.
#pragma once

#include <filesystem>
#include <vector>

#include "plugstore/scenario.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner {

struct EpwLocation {
  double latitude = 0.0;   // degrees, north positive
  double longitude = 0.0;  // degrees, east positive
  double timeZone = 0.0;   // h from UTC
};

struct EpwHour {
  double start = 0.0;    // h of the year at which the hour begins
  double ambient = 0.0;  // degC, dry bulb
  double global = 0.0;   // W/m2 on the horizontal
  double direct = 0.0;   // W/m2 normal to the beam
  double diffuse = 0.0;  // W/m2 on the horizontal
  int line = 0;
};

struct EpwData {
  EpwLocation location;
  std::vector<EpwHour> hours;
};

struct Plane {
  double tilt = 45.0;    // degrees from the horizontal
  double azimuth = 0.0;  // degrees, 0 south, positive west
  double albedo = 0.2;   // of the ground in front
};

// What reaches the plane in one hour.
struct PlaneIrradiance {
  double total = 0.0;      // W/m2: beam + sky diffuse + ground-reflected
  double beam = 0.0;       // W/m2 of the total from the beam
  double incidence = 0.0;  // degrees between the beam and the plane's normal
};

// Reads the file; a missing value (99.9 degC, 9999 W/m2), an hour that does
// not follow the one before or a row too short is a fault at its line.
// `from` places the faults of opening it.
EpwData readEpw(const std::filesystem::path& path, const Place& from);

// The sun's position at `hourOfYear` (standard time at the location,
// fractional) and the irradiance on the plane from the hour's horizontal
// global, direct normal and diffuse irradiance.
PlaneIrradiance transpose(const EpwLocation& at, const Plane& plane, double hourOfYear,
                          double global, double direct, double diffuse);

// A series table of the hours: columns time, ambient, irradiance, beam,
// incidence.
reading::CsvTable weatherSeries(const EpwData& data, const Plane& plane);

}  // namespace plugstore::runner
