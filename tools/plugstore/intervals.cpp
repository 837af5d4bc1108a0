#include "plugstore/intervals.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "plugstore/names.h"

namespace plugstore::runner {

std::string csvHeader(const Scenario& s, bool units) {
  std::string line = "time";
  std::string unitRow = "h";
  for (const Scenario* u : storesOf(s)) {
    const std::string prefix = u->name.empty() ? "" : u->name + ".";
    for (int n : u->outputs) {
      // Piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "," + a
      // temporary string.
      line += ',';
      line += prefix;
      line += columnName(*u, n);
      unitRow += ',';
      unitRow += columnUnit(*u, n);
    }
  }
  return line + "\n" + (units ? unitRow + "\n" : "");
}

IntervalRows::IntervalRows(const Scenario& s, std::FILE* csv, bool units, Sink sink)
    : csv_(csv), sink_(std::move(sink)) {
  std::size_t most = 0;
  for (const Scenario* u : storesOf(s)) {
    Part part;
    part.first = width_;
    for (int n : u->outputs) part.columns.push_back(static_cast<std::size_t>(n - 1));
    width_ += part.columns.size();
    most = std::max(most, runnerColumns(*u).size());
    parts_.push_back(std::move(part));
  }
  values_.assign(standin::kOutputs + most, 0.0);
  if (s.interval > 0.0) stepsPerRow_ = static_cast<int>(std::lround(s.interval / s.step));
  sums_.assign(width_, 0.0);
  row_.assign(width_, 0.0);
  if (csv_ != nullptr) std::fputs(csvHeader(s, units).c_str(), csv_);
}

char* printGeneral(char* at, char* end, double v, int digits) {
  return std::to_chars(at, end, v, std::chars_format::general, digits).ptr;
}

void IntervalRows::write(double time, const double* values) {
  if (csv_ != nullptr) {
    // Up to 10 significant digits, sign, point and exponent: 32 characters
    // a number is plenty.
    constexpr std::size_t kNumberWidth = 32;
    text_.resize(kNumberWidth * (width_ + 1) + 1);
    char* const end = text_.data() + text_.size();
    char* at = printGeneral(text_.data(), end, time, 10);
    for (std::size_t i = 0; i < width_; ++i) {
      *at++ = ',';
      at = printGeneral(at, end, values[i], 9);
    }
    *at++ = '\n';
    std::fwrite(text_.data(), 1, static_cast<std::size_t>(at - text_.data()), csv_);
  }
  if (sink_) sink_(time, {values, width_});
  ++rows_;
}

bool IntervalRows::gather(std::size_t unit, const std::array<double, standin::kOutputs>& out,
                          const std::vector<double>& extra) {
  std::copy(out.begin(), out.end(), values_.begin());
  std::copy(extra.begin(), extra.end(), values_.begin() + standin::kOutputs);
  const Part& p = parts_[unit];
  for (std::size_t i = 0; i < p.columns.size(); ++i) row_[p.first + i] = values_[p.columns[i]];
  return unit + 1 == parts_.size();
}

void IntervalRows::initial(std::size_t unit, double time,
                           const std::array<double, standin::kOutputs>& out,
                           const std::vector<double>& extra) {
  if (gather(unit, out, extra)) write(time, row_.data());
}

void IntervalRows::step(std::size_t unit, double time,
                        const std::array<double, standin::kOutputs>& out,
                        const std::vector<double>& extra) {
  lastTime_ = time;
  if (!gather(unit, out, extra)) return;
  if (stepsPerRow_ == 1) {  // the step's own values, untouched by arithmetic
    write(time, row_.data());
    return;
  }
  for (std::size_t i = 0; i < width_; ++i) sums_[i] += row_[i];
  if (++pending_ == stepsPerRow_) finish();
}

void IntervalRows::finish() {
  if (pending_ == 0) return;
  // Steps are of equal length: the mean over the time is the mean of the steps.
  for (std::size_t i = 0; i < width_; ++i) {
    row_[i] = sums_[i] / pending_;
    sums_[i] = 0.0;
  }
  pending_ = 0;
  write(lastTime_, row_.data());
}

}  // namespace plugstore::runner
