#include "plugstore/schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

namespace plugstore::runner {

namespace {

// Pieces of an interval shorter than this (3.6 microseconds) come from the
// rounding of the step times, not from the schedule: they are left out, so
// that a step that ends on a point of the schedule sees only its own value.
constexpr double kSliver = 1e-9;  // h

struct Area {
  double sum = 0.0;       // integral of the value, value x h
  double duration = 0.0;  // h taken into the integral
  void add(double value, double length) {
    if (length < kSliver) return;
    sum += value * length;
    duration += length;
  }
};

std::string formatPeriod(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

}  // namespace

Schedule::Schedule(std::vector<double> times, std::vector<double> values,
                   Interpolation interpolation, double period)
    : interpolation_(interpolation), period_(period) {
  // A point at the end of the period is the start of the next one.
  if (period_ > 0.0 && times.back() == period_) {
    if (times.size() > 1 && times.front() == 0.0) {
      times.pop_back();
      values.pop_back();
    } else {
      const double first = values.back();
      times.pop_back();
      values.pop_back();
      times.insert(times.begin(), 0.0);
      values.insert(values.begin(), first);
    }
  }
  if (period_ > 0.0) {
    // One point before 0 and one after the period carry the wrap-around.
    t_.push_back(times.back() - period_);
    v_.push_back(values.back());
    t_.insert(t_.end(), times.begin(), times.end());
    v_.insert(v_.end(), values.begin(), values.end());
    t_.push_back(times.front() + period_);
    v_.push_back(values.front());
  } else {
    t_ = std::move(times);
    v_ = std::move(values);
  }
}

std::string Schedule::problem(const std::vector<double>& times, const std::vector<double>& values,
                              double period, std::size_t* point) {
  if (point != nullptr) *point = static_cast<std::size_t>(-1);
  if (times.empty()) return "a schedule needs at least one point";
  if (times.size() != values.size()) return "times and values differ in number";
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (point != nullptr) *point = i;
    const std::string name = "point " + std::to_string(i + 1);
    if (!std::isfinite(times[i]) || !std::isfinite(values[i])) {
      return name + " is not a finite number";
    }
    if (i > 0 && times[i] <= times[i - 1]) return name + ": times must increase";
  }
  if (point != nullptr) *point = static_cast<std::size_t>(-1);
  if (period < 0.0 || !std::isfinite(period)) return "the period must be positive";
  if (period > 0.0 && (times.front() < 0.0 || times.back() > period)) {
    if (point != nullptr) *point = times.front() < 0.0 ? 0 : times.size() - 1;
    return "the times of a repeating schedule must lie in 0 ... period";
  }
  if (period > 0.0 && times.size() > 1 && times.back() == period && times.front() == 0.0 &&
      values.back() != values.front()) {
    if (point != nullptr) *point = times.size() - 1;
    return "the point at " + formatPeriod(period) +
           " h is 0 h of the next period: its value must equal the point at 0 h";
  }
  return "";
}

double Schedule::at(double t) const {
  if (period_ > 0.0) t -= std::floor(t / period_) * period_;
  if (t <= t_.front()) return v_.front();
  if (t >= t_.back()) return v_.back();
  const auto i = static_cast<std::size_t>(
      std::distance(t_.begin(), std::upper_bound(t_.begin(), t_.end(), t)) - 1);
  if (interpolation_ == Interpolation::kHold) return v_[i];
  return v_[i] + (v_[i + 1] - v_[i]) * (t - t_[i]) / (t_[i + 1] - t_[i]);
}

double Schedule::mean(double a, double b) const {
  if (b <= a) return at(a);
  // The area of [a, b] on the points, held constant beyond both ends.
  auto area = [this](double x, double y, Area& acc) {
    const std::size_t n = t_.size();
    if (x < t_.front()) {
      const double e = std::min(y, t_.front());
      acc.add(v_.front(), e - x);
      x = e;
    }
    auto i = static_cast<std::size_t>(
        std::distance(t_.begin(), std::upper_bound(t_.begin(), t_.end(), x)));
    if (i > 0) --i;
    for (; i + 1 < n && x < y; ++i) {
      const double e = std::min(y, t_[i + 1]);
      if (e > x) {
        double value = v_[i];
        if (interpolation_ == Interpolation::kLinear) {
          // Mean of a straight line: its value at the middle of the piece.
          const double mid = 0.5 * (x + e);
          value = v_[i] + (v_[i + 1] - v_[i]) * (mid - t_[i]) / (t_[i + 1] - t_[i]);
        }
        acc.add(value, e - x);
        x = e;
      }
    }
    if (x < y) acc.add(v_.back(), y - x);
  };

  Area acc;
  if (period_ <= 0.0) {
    area(a, b, acc);
  } else {
    const double k = std::floor(a / period_);
    double x = a - k * period_;
    double remaining = b - a;
    // First partial period, then whole periods at once, then the rest.
    const double first = std::min(remaining, period_ - x);
    area(x, x + first, acc);
    remaining -= first;
    if (remaining >= period_) {
      Area whole;
      area(0.0, period_, whole);
      const double count = std::floor(remaining / period_);
      acc.sum += count * whole.sum;
      acc.duration += count * whole.duration;
      remaining -= count * period_;
    }
    if (remaining > 0.0) area(0.0, remaining, acc);
  }
  if (acc.duration <= 0.0) return at(0.5 * (a + b));
  return acc.sum / acc.duration;
}

double Schedule::minValue() const { return *std::min_element(v_.begin(), v_.end()); }
double Schedule::maxValue() const { return *std::max_element(v_.begin(), v_.end()); }

}  // namespace plugstore::runner
