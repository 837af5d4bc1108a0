// Totals per period of the host's clock (day, month or year of a non-leap
// year whose hour 0 is simulation time 0): the energy account per flow in
// kWh and the mean, minimum and maximum of every chosen temperature. A step
// that straddles the end of a period is shared by time between the two.
#pragma once

#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "plugstore/account.h"
#include "plugstore/scenario.h"
#include "standin/protocol.h"

namespace plugstore::runner {

// End (h) of the period that holds the instant t; periods are [begin, end).
double periodEnd(Period period, double t);

// "monthly" for Period::monthly.
std::string periodName(Period period);

class PeriodTotals {
 public:
  // Writes the header to `csv`.
  PeriodTotals(const Scenario& scenario, const AccountBook& book, std::FILE* csv, bool units);
  void step(double time, double hours, const std::array<double, standin::kOutputs>& out,
            const std::array<double, standin::kInputs>& inputs, bool limited,
            const std::vector<double>& loads = {});
  // The collectors' yield, pipe loss, heat taken by the store (kWh) and
  // stagnation hours of the step `step` adds next, four for each.
  void collectorStep(std::span<const double> values) {
    collectorStep_.assign(values.begin(), values.end());
  }
  // Writes the period the run ended inside.
  void finish();
  [[nodiscard]] int rows() const { return rows_; }

 private:
  struct Temperature {
    std::size_t index;  // 0-based output
    double weighted = 0.0;
    double hours = 0.0;
    double min = 0.0;
    double max = 0.0;
  };
  void open(double t);
  void add(double begin, double end, double hours, double time,
           const std::array<double, standin::kOutputs>& out,
           const std::array<double, standin::kInputs>& inputs, bool limited,
           const std::vector<double>& loads);
  void close(double stop);

  const Scenario& scenario_;
  Period period_;
  const AccountBook& book_;
  std::FILE* csv_;
  bool open_ = false;
  double begin_ = 0.0;  // h, start of what the period row covers
  double end_ = 0.0;    // h, end of the period
  double last_ = 0.0;   // h, end of the last step added
  EnergyAccount account_;
  std::vector<Temperature> temperatures_;
  std::vector<double> collectorStep_;
  std::vector<double> collectorSum_;
  std::vector<double> loads_;  // the loads' kWh and hours short (load.h), four a load
  int rows_ = 0;
};

}  // namespace plugstore::runner
