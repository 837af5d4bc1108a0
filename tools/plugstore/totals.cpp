#include "plugstore/totals.h"

#include <algorithm>
#include <cmath>

#include "plugstore/figures.h"
#include "plugstore/load.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

constexpr double kYear = 8760.0;
// Hour of the year at which each month begins, and the end of December.
constexpr std::array<double, 13> kMonthStart = {0,    744,  1416, 2160, 2880, 3624, 4344,
                                                5088, 5832, 6552, 7296, 8016, 8760};
// Step ends may miss a period's end by round-off of the time grid.
constexpr double kTimeTolerance = 1e-6;  // h

double yearStart(double t) { return std::floor(t / kYear) * kYear; }

int monthIndex(double hourOfYear) {
  const auto it = std::upper_bound(kMonthStart.begin(), kMonthStart.end(), hourOfYear);
  return static_cast<int>(it - kMonthStart.begin()) - 1;  // 0 ... 11
}

}  // namespace

double periodEnd(Period period, double t) {
  const double y = yearStart(t);
  const double h = t - y;
  switch (period) {
    case Period::daily:
      return y + std::floor(h / 24.0) * 24.0 + 24.0;
    case Period::monthly:
      return y + kMonthStart[static_cast<std::size_t>(monthIndex(h) + 1)];
    default:
      return y + kYear;
  }
}

std::string periodName(Period period) {
  switch (period) {
    case Period::daily:
      return "daily";
    case Period::monthly:
      return "monthly";
    case Period::yearly:
      return "yearly";
    default:
      return "none";
  }
}

PeriodTotals::PeriodTotals(const Scenario& s, const AccountBook& book, std::FILE* csv, bool units)
    : scenario_(s), period_(s.totals), book_(book), csv_(csv), account_(book.empty()) {
  for (int n : s.outputs) {
    if (n <= kNumOutputs && outputEntry(n).unit == "degC") {
      temperatures_.push_back({static_cast<std::size_t>(n - 1)});
    }
  }
  std::string names = "start,stop,year";
  std::string unitRow = "h,h,-";
  if (period_ != Period::yearly) {
    names += ",month";
    unitRow += ",-";
  }
  if (period_ == Period::daily) {
    names += ",day";
    unitRow += ",-";
  }
  auto column = [&](const std::string& name, const char* unit) {
    names += "," + name;
    unitRow += std::string(",") + unit;
  };
  for (const Flow& f : account_.flows) {
    column(f.key + ".in", "kWh");
    column(f.key + ".out", "kWh");
  }
  column("heatIntoPlugs", "kWh");
  column("temperatureLimit", "kWh");
  column("losses", "kWh");
  column("storedChange", "kWh");
  column("unexplained", "kWh");
  for (const std::string& name : loadTotalsColumns(s)) {
    column(name, name.ends_with(".hoursShort") ? "h" : "kWh");
    loads_.push_back(0.0);
  }
  for (const Temperature& t : temperatures_) {
    const std::string name(outputEntry(static_cast<int>(t.index) + 1).name);
    column(name + ".mean", "degC");
    column(name + ".min", "degC");
    column(name + ".max", "degC");
  }
  for (const CollectorSetup& c : s.collectors) {
    const std::string name = "collector." + c.name;
    column(name + ".yield", "kWh");
    column(name + ".pipeLoss", "kWh");
    column(name + ".delivered", "kWh");
    column(name + ".stagnation", "h");
  }
  collectorSum_.assign(4 * s.collectors.size(), 0.0);
  for (const auto& [name, v] : figureList(s, ReportFigures{}, false)) column(name, "-");
  std::fputs((names + "\n").c_str(), csv_);
  if (units) std::fputs((unitRow + "\n").c_str(), csv_);
}

void PeriodTotals::open(double t) {
  open_ = true;
  begin_ = t;
  end_ = periodEnd(period_, t + kTimeTolerance);
  account_ = book_.empty();
  for (Temperature& x : temperatures_) x = {x.index};
  std::fill(collectorSum_.begin(), collectorSum_.end(), 0.0);
  std::fill(loads_.begin(), loads_.end(), 0.0);
}

void PeriodTotals::add(double begin, double end, double hours, double time,
                       const std::array<double, standin::kOutputs>& out,
                       const std::array<double, standin::kInputs>& inputs, bool limited,
                       const std::vector<double>& loads) {
  const double part = end - begin;
  const double share = part >= hours ? 1.0 : part / hours;
  book_.add(account_, out, inputs, hours, time, limited, share);
  for (std::size_t i = 0; i < loads.size() && i < loads_.size(); ++i) loads_[i] += share * loads[i];
  for (Temperature& x : temperatures_) {
    const double v = out[x.index];
    x.min = x.hours == 0.0 ? v : std::min(x.min, v);
    x.max = x.hours == 0.0 ? v : std::max(x.max, v);
    x.weighted += v * part;
    x.hours += part;
  }
  for (std::size_t i = 0; i < collectorSum_.size() && i < collectorStep_.size(); ++i) {
    collectorSum_[i] += collectorStep_[i] * (part >= hours ? 1.0 : part / hours);
  }
  last_ = end;
}

void PeriodTotals::step(double time, double hours, const std::array<double, standin::kOutputs>& out,
                        const std::array<double, standin::kInputs>& inputs, bool limited,
                        const std::vector<double>& loads) {
  double begin = time - hours;
  for (;;) {
    if (!open_) open(begin);
    if (time <= end_ + kTimeTolerance) {
      add(begin, time, hours, time, out, inputs, limited, loads);
      if (time >= end_ - kTimeTolerance) close(time);
      return;
    }
    add(begin, end_, hours, time, out, inputs, limited, loads);
    close(end_);
    begin = end_;
  }
}

void PeriodTotals::finish() {
  if (open_) close(last_);
}

void PeriodTotals::close(double stop) {
  open_ = false;
  const double at = begin_ + kTimeTolerance;
  const double y = yearStart(at);
  std::fprintf(csv_, "%.10g,%.10g,%.0f", begin_, stop, y / kYear + 1.0);
  const int month = monthIndex(at - y);
  if (period_ != Period::yearly) std::fprintf(csv_, ",%d", month + 1);
  if (period_ == Period::daily) {
    const double day = std::floor((at - y - kMonthStart[static_cast<std::size_t>(month)]) / 24.0);
    std::fprintf(csv_, ",%.0f", day + 1.0);
  }
  // Energies in full (the shortest text that reads back the same), so that
  // the periods add up to the run's account.
  std::string row;
  auto energy = [&row](double kWh) { row += "," + formatNumber(kWh); };
  const EnergyAccount& a = account_;
  for (const Flow& f : a.flows) {
    energy(f.in);
    energy(f.out);
  }
  energy(a.heatIntoPlugs);
  energy(a.limitHeat);
  energy(a.losses);
  energy(a.storedChange);
  energy(a.residual());
  for (const double v : loads_) energy(v);
  std::fputs(row.c_str(), csv_);
  for (const Temperature& x : temperatures_) {
    std::fprintf(csv_, ",%.9g,%.9g,%.9g", x.weighted / x.hours, x.min, x.max);
  }
  row.clear();
  for (const double v : collectorSum_) energy(v);
  // The report figures of the period; a figure without its parts (no heat
  // brought in, no demand) is left empty.
  Demand d;
  if (!loads_.empty()) {
    d.loadAsked = 0.0;
    d.loadDelivered = 0.0;
    for (std::size_t i = 0; i + 1 < loads_.size(); i += 4) {
      d.loadAsked += loads_[i];
      d.loadDelivered += loads_[i + 1];
    }
  }
  for (const auto& [name, v] : figureList(scenario_, reportFigures(scenario_, a, d), false)) {
    row += v ? "," + formatNumber(*v) : std::string(",");
  }
  std::fputs(row.c_str(), csv_);
  std::fputc('\n', csv_);
  ++rows_;
}

}  // namespace plugstore::runner
