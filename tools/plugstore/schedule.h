// A time series of one input: points (time in hours, value), held or
// interpolated between them, optionally repeating with a period (a daily
// profile repeats every 24 h). A time step takes the mean of the series over
// its interval, so a draw-off of 10 minutes delivers its full mass whatever
// the time step.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plugstore::runner {

enum class Interpolation {
  kHold,    // each value holds until the next point
  kLinear,  // straight lines between the points
};

class Schedule {
 public:
  // Points must satisfy `problem(...)` == "". A point at the end of the
  // period is the same as one at 0 in the next period.
  Schedule(std::vector<double> times, std::vector<double> values, Interpolation interpolation,
           double period);

  // Why the points cannot make a schedule, or "" when they can; `point`
  // receives the 0-based index of the offending point, if there is one.
  // `period` is 0 for a series that does not repeat.
  static std::string problem(const std::vector<double>& times, const std::vector<double>& values,
                             double period, std::size_t* point = nullptr);

  // The value at time t (hours).
  [[nodiscard]] double at(double t) const;
  // The mean over [a, b] (hours); the value at a when b <= a.
  [[nodiscard]] double mean(double a, double b) const;

  [[nodiscard]] double minValue() const;
  [[nodiscard]] double maxValue() const;
  [[nodiscard]] double period() const { return period_; }
  [[nodiscard]] Interpolation interpolation() const { return interpolation_; }

 private:
  std::vector<double> t_;  // for a periodic series extended by one point at each end
  std::vector<double> v_;
  Interpolation interpolation_;
  double period_;
};

}  // namespace plugstore::runner
