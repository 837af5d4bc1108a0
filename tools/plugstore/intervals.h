// The rows of a run's CSV: the time (h, the end of what the row covers) and
// the chosen outputs, either of every step or as means over intervals of
// whole steps. The mean of a power over an interval is the interval's
// energy over its length; the last row of a run that ends inside an
// interval covers what there is.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "plugstore/scenario.h"
#include "standin/protocol.h"

namespace plugstore::runner {

// "time,name,..." and, with `units`, a second row of units. With several
// units the columns of each come in the units' order, each name prefixed by
// its unit's: "buffer.port1.heat".
std::string csvHeader(const Scenario& scenario, bool units = false);

// v as printf's "%.<digits>g" writes it (to_chars is bound to the same
// text), into [at, end), without printf's cost of parsing a format for every
// number; returns the end of the text.
char* printGeneral(char* at, char* end, double v, int digits);

// With several units each unit (0, 1, ... in the scenario's order) gives its
// values of a row in turn; the row is written with the last unit's.
class IntervalRows {
 public:
  // Each row goes to `csv` (if not null), after the header, and to `sink`
  // (if given) in full precision.
  using Sink = std::function<void(double time, std::span<const double> values)>;
  IntervalRows(const Scenario& scenario, std::FILE* csv, bool units, Sink sink = {});
  // The state at the start, as its own row. `extra` holds the runner's own
  // columns (numbered from 203 in the scenario's outputs).
  void initial(std::size_t unit, double time, const std::array<double, standin::kOutputs>& out,
               const std::vector<double>& extra);
  void step(std::size_t unit, double time, const std::array<double, standin::kOutputs>& out,
            const std::vector<double>& extra);
  // Writes the row of an interval that the run ended inside.
  void finish();
  [[nodiscard]] int rows() const { return rows_; }

 private:
  struct Part {
    std::vector<std::size_t> columns;  // 0-based, in the outputs then the runner's columns
    std::size_t first = 0;             // its first column in the row
  };
  void write(double time, const double* values);
  // Puts the unit's values into the row; true once the row is complete.
  bool gather(std::size_t unit, const std::array<double, standin::kOutputs>& out,
              const std::vector<double>& extra);

  std::FILE* csv_;
  Sink sink_;
  std::vector<Part> parts_;     // one per unit
  std::vector<double> values_;  // the outputs, then the runner's columns, of one unit
  std::size_t width_ = 0;       // columns of a row, the time left out
  int stepsPerRow_ = 1;
  int pending_ = 0;  // steps added to sums_ since the last row
  double lastTime_ = 0.0;
  std::vector<double> sums_;
  std::vector<double> row_;
  std::vector<char> text_;  // a row's line, written at once
  int rows_ = 0;
};

}  // namespace plugstore::runner
