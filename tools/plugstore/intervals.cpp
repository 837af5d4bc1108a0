#include "plugstore/intervals.h"

#include <cmath>
#include <string>

#include "plugstore/names.h"

namespace plugstore::runner {

std::string csvHeader(const Scenario& s, bool units) {
  std::string line = "time";
  for (int n : s.outputs) line += "," + columnName(s, n);
  line += '\n';
  if (!units) return line;
  line += "h";
  for (int n : s.outputs) line += "," + columnUnit(s, n);
  return line + "\n";
}

IntervalRows::IntervalRows(const Scenario& s, std::FILE* csv, bool units) : csv_(csv) {
  for (int n : s.outputs) columns_.push_back(static_cast<std::size_t>(n - 1));
  values_.assign(standin::kOutputs + runnerColumns(s).size(), 0.0);
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

const double* IntervalRows::gather(const std::array<double, standin::kOutputs>& out,
                                   const std::vector<double>& extra) {
  std::copy(out.begin(), out.end(), values_.begin());
  std::copy(extra.begin(), extra.end(), values_.begin() + standin::kOutputs);
  for (std::size_t i = 0; i < columns_.size(); ++i) row_[i] = values_[columns_[i]];
  return row_.data();
}

void IntervalRows::initial(double time, const std::array<double, standin::kOutputs>& out,
                           const std::vector<double>& extra) {
  write(time, gather(out, extra));
}

void IntervalRows::step(double time, const std::array<double, standin::kOutputs>& out,
                        const std::vector<double>& extra) {
  lastTime_ = time;
  const double* row = gather(out, extra);
  if (stepsPerRow_ == 1) {  // the step's own values, untouched by arithmetic
    write(time, row);
    return;
  }
  for (std::size_t i = 0; i < columns_.size(); ++i) sums_[i] += row[i];
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
