// The rows of a run's CSV: the time (h, the end of what the row covers) and
// the chosen outputs, either of every step or as means over intervals of
// whole steps. The mean of a power over an interval is the interval's
// energy over its length; the last row of a run that ends inside an
// interval covers what there is.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "plugstore/scenario.h"
#include "standin/protocol.h"

namespace plugstore::runner {

// "time,name,..." and, with `units`, a second row of units.
std::string csvHeader(const Scenario& scenario, bool units = false);

class IntervalRows {
 public:
  // Writes the header to `csv`.
  IntervalRows(const Scenario& scenario, std::FILE* csv, bool units);
  // The state at the start, as its own row. `extra` holds the runner's own
  // columns (numbered from 203 in the scenario's outputs).
  void initial(double time, const std::array<double, standin::kOutputs>& out,
               const std::vector<double>& extra);
  void step(double time, const std::array<double, standin::kOutputs>& out,
            const std::vector<double>& extra);
  // Writes the row of an interval that the run ended inside.
  void finish();
  [[nodiscard]] int rows() const { return rows_; }

 private:
  void write(double time, const double* values);
  const double* gather(const std::array<double, standin::kOutputs>& out,
                       const std::vector<double>& extra);

  std::FILE* csv_;
  std::vector<std::size_t> columns_;  // 0-based column numbers
  std::vector<double> values_;        // the outputs, then the runner's columns
  int stepsPerRow_ = 1;
  int pending_ = 0;  // steps added to sums_ since the last row
  double lastTime_ = 0.0;
  std::vector<double> sums_;
  std::vector<double> row_;
  int rows_ = 0;
};

}  // namespace plugstore::runner
