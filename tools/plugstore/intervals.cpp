#include "plugstore/intervals.h"

#include <cmath>
#include <string>

#include "plugstore/names.h"

namespace plugstore::runner {

std::string csvHeader(const Scenario& s, bool units) {
  std::string line = "time";
  for (int n : s.outputs) {
    line += ',';
    line += outputEntry(n).name;
  }
  line += '\n';
  if (!units) return line;
  line += "h";
  for (int n : s.outputs) {
    const std::string_view unit = outputEntry(n).unit;
    line += ',';
    line += unit.empty() ? "-" : unit;
  }
  return line + "\n";
}

IntervalRows::IntervalRows(const Scenario& s, std::FILE* csv, bool units) : csv_(csv) {
  for (int n : s.outputs) columns_.push_back(static_cast<std::size_t>(n - 1));
  if (s.interval > 0.0) stepsPerRow_ = static_cast<int>(std::lround(s.interval / s.step));
  sums_.assign(columns_.size(), 0.0);
  row_.assign(columns_.size(), 0.0);
  std::fputs(csvHeader(s, units).c_str(), csv_);
}

void IntervalRows::write(double time, const double* values) {
  std::fprintf(csv_, "%.10g", time);
  for (std::size_t i = 0; i < columns_.size(); ++i) std::fprintf(csv_, ",%.9g", values[i]);
  std::fputc('\n', csv_);
  ++rows_;
}

void IntervalRows::initial(double time, const std::array<double, standin::kOutputs>& out) {
  for (std::size_t i = 0; i < columns_.size(); ++i) row_[i] = out[columns_[i]];
  write(time, row_.data());
}

void IntervalRows::step(double time, const std::array<double, standin::kOutputs>& out) {
  lastTime_ = time;
  if (stepsPerRow_ == 1) {  // the step's own values, untouched by arithmetic
    for (std::size_t i = 0; i < columns_.size(); ++i) row_[i] = out[columns_[i]];
    write(time, row_.data());
    return;
  }
  for (std::size_t i = 0; i < columns_.size(); ++i) sums_[i] += out[columns_[i]];
  if (++pending_ == stepsPerRow_) finish();
}

void IntervalRows::finish() {
  if (pending_ == 0) return;
  // Steps are of equal length: the mean over the time is the mean of the steps.
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    row_[i] = sums_[i] / pending_;
    sums_[i] = 0.0;
  }
  pending_ = 0;
  write(lastTime_, row_.data());
}

}  // namespace plugstore::runner
