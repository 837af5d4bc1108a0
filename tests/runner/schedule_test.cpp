// Schedules: what one time step receives from held, interpolated and
// repeating series.
#include "plugstore/schedule.h"

#include <gtest/gtest.h>

namespace plugstore::runner {
namespace {

TEST(Schedule, HeldValuesGiveTheMeanOverTheStep) {
  const Schedule draw({0.0, 7.0, 7.1}, {0.0, 600.0, 0.0}, Interpolation::kHold, 0.0);
  EXPECT_EQ(draw.mean(6.95, 7.0), 0.0);
  EXPECT_EQ(draw.mean(7.0, 7.05), 600.0);
  EXPECT_EQ(draw.mean(7.05, 7.1), 600.0);
  EXPECT_EQ(draw.mean(7.1, 7.15), 0.0);
  // A step of 0.25 h that holds the whole draw delivers its whole mass.
  EXPECT_NEAR(draw.mean(7.0, 7.25) * 0.25, 60.0, 1e-9);
  // Beyond the ends the first and the last value hold.
  EXPECT_EQ(draw.mean(-3.0, -2.0), 0.0);
  EXPECT_EQ(draw.at(100.0), 0.0);
}

TEST(Schedule, StepTimesWithRoundingStillSeeOnlyTheirOwnValue) {
  const Schedule draw({0.0, 7.0, 7.1}, {0.0, 600.0, 0.0}, Interpolation::kHold, 0.0);
  // 141 steps of 0.05 h from 0 do not land exactly on 7.05.
  const double end = 141 * 0.05;
  EXPECT_NE(end, 7.05);
  EXPECT_EQ(draw.mean(end - 0.05, end), 600.0);
  EXPECT_EQ(draw.mean(140 * 0.05 - 0.05, 140 * 0.05), 0.0);
}

TEST(Schedule, LinearValuesAreAveragedAlongTheLine) {
  const Schedule t({0.0, 10.0}, {20.0, 70.0}, Interpolation::kLinear, 0.0);
  EXPECT_DOUBLE_EQ(t.at(4.0), 40.0);
  EXPECT_DOUBLE_EQ(t.mean(4.0, 6.0), 45.0);
  // One hour on the slope from 65 to 70, one hour on the held end.
  EXPECT_DOUBLE_EQ(t.mean(9.0, 11.0), ((65.0 + 70.0) / 2.0 + 70.0) / 2.0);
}

TEST(Schedule, ADailyProfileRepeatsAndWrapsAroundMidnight) {
  const Schedule hold({6.0, 22.0}, {500.0, 150.0}, Interpolation::kHold, 24.0);
  EXPECT_EQ(hold.at(3.0), 150.0);  // before the first point: the evening's value
  EXPECT_EQ(hold.at(24.0 + 7.0), 500.0);
  EXPECT_EQ(hold.mean(48.0 + 6.0, 48.0 + 7.0), 500.0);
  EXPECT_DOUBLE_EQ(hold.mean(21.0, 23.0), (500.0 + 150.0) / 2.0);
  // Three whole days and a bit at once.
  EXPECT_DOUBLE_EQ(hold.mean(0.0, 72.0), (16.0 * 500.0 + 8.0 * 150.0) / 24.0);

  const Schedule linear({0.0, 12.0}, {10.0, 30.0}, Interpolation::kLinear, 24.0);
  EXPECT_DOUBLE_EQ(linear.at(18.0), 20.0);  // from 30 at noon back to 10 at midnight
  EXPECT_DOUBLE_EQ(linear.mean(23.0, 25.0), (linear.at(23.5) + linear.at(0.5)) / 2.0);

  // A point at 24 h is midnight, the start of the next day.
  const Schedule midnight({6.0, 24.0}, {20.0, 10.0}, Interpolation::kLinear, 24.0);
  EXPECT_DOUBLE_EQ(midnight.at(3.0), 15.0);
  EXPECT_DOUBLE_EQ(midnight.at(15.0), 15.0);
  EXPECT_DOUBLE_EQ(midnight.at(24.0), 10.0);
}

TEST(Schedule, ProblemsNameTheOffendingPoint) {
  std::size_t point = 99;
  EXPECT_EQ(Schedule::problem({0.0, 1.0}, {1.0, 2.0}, 0.0, &point), "");
  EXPECT_NE(Schedule::problem({0.0, 2.0, 2.0}, {1.0, 2.0, 3.0}, 0.0, &point).find("increase"),
            std::string::npos);
  EXPECT_EQ(point, 2u);
  EXPECT_NE(Schedule::problem({1.0, 24.5}, {1.0, 2.0}, 24.0, &point).find("period"),
            std::string::npos);
  EXPECT_EQ(point, 1u);
  // A point at the end of the period is 0 h of the next one: it must agree
  // with a point at 0 h.
  EXPECT_NE(Schedule::problem({0.0, 24.0}, {1.0, 2.0}, 24.0, &point).find("0 h"),
            std::string::npos);
  EXPECT_EQ(point, 1u);
  EXPECT_EQ(Schedule::problem({0.0, 24.0}, {1.0, 1.0}, 24.0), "");
  EXPECT_NE(Schedule::problem({}, {}, 0.0), "");
}

}  // namespace
}  // namespace plugstore::runner
