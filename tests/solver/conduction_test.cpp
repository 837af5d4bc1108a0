#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "solver/heat_helpers.h"
#include "solver/solver.h"
#include "support/fixtures.h"

namespace plugstore {
namespace {

using test::buildChain;
using test::chainTemps;
using test::RecordingHost;

// Dense Gaussian elimination with partial pivoting, 0-based.
std::vector<double> denseSolve(std::vector<std::vector<double>> a, std::vector<double> b) {
  const std::size_t n = b.size();
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t piv = k;
    for (std::size_t i = k + 1; i < n; ++i) {
      if (std::fabs(a[i][k]) > std::fabs(a[piv][k])) piv = i;
    }
    std::swap(a[k], a[piv]);
    std::swap(b[k], b[piv]);
    for (std::size_t i = k + 1; i < n; ++i) {
      const double f = a[i][k] / a[k][k];
      for (std::size_t j = k; j < n; ++j) a[i][j] -= f * a[k][j];
      b[i] -= f * b[k];
    }
  }
  std::vector<double> x(n);
  for (std::size_t i = n; i-- > 0;) {
    double s = b[i];
    for (std::size_t j = i + 1; j < n; ++j) s -= a[i][j] * x[j];
    x[i] = s / a[i][i];
  }
  return x;
}

TEST(Tridiagonal, MatchesADenseSolutionOfTheSameBalances) {
  for (int n : {1, 2, 7}) {
    std::array<double, 10> tOld{}, q{}, ua{}, tAmb{}, k{}, cap{}, diag{}, rhs{}, t{};
    for (int i = 1; i <= n; ++i) {
      tOld[i] = 20.0 + 7.0 * i;
      q[i] = (i % 3 == 0) ? 400.0 : -35.0 * i;
      ua[i] = 0.3 * (i % 2);
      tAmb[i] = 15.0;
      k[i] = 2.5 + 40.0 * (i % 4);
      cap[i] = 50.0 + 30.0 * i;
    }
    solveTridiagonal(n, tOld, q, ua, tAmb, k, cap, diag, rhs, t);

    // Balance of plug i written out as a full matrix row.
    const auto un = static_cast<std::size_t>(n);
    std::vector<std::vector<double>> a(un, std::vector<double>(un, 0.0));
    std::vector<double> b(un);
    for (int i = 1; i <= n; ++i) {
      const auto r = static_cast<std::size_t>(i - 1);
      a[r][r] = cap[i] + ua[i];
      b[r] = cap[i] * tOld[i] + ua[i] * tAmb[i] + q[i];
      if (i > 1) {
        a[r][r] += k[i - 1];
        a[r][r - 1] = -k[i - 1];
      }
      if (i < n) {
        a[r][r] += k[i];
        a[r][r + 1] = -k[i];
      }
    }
    const std::vector<double> ref = denseSolve(a, b);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(t[i], ref[static_cast<std::size_t>(i - 1)], 1e-10);
  }
}

class Conduction : public ::testing::Test {
 protected:
  void SetUp() override { test::setStore(st, 0.3, 1.5, 0.6); }
  State st;
  RecordingHost host;
};

TEST_F(Conduction, LossUAOfTheThreeSideZonesTopAndBottomWithTheSumCheck) {
  Store& s = st.store;
  s.uaBottom = 1.0;
  s.uaSide1 = 2.0;
  s.uaSide2 = 3.0;
  s.uaSide3 = 300.0;
  s.uaTop = 5.0;
  buildChain(st, {{1e5, 20.0, 0, 333333}, {1e5, 20.0, 333333, 666666}, {1e5, 20.0, 666666, kZTop}});
  EXPECT_DOUBLE_EQ(plugLossUA(st, 1), 2.0 + 1.0);
  EXPECT_DOUBLE_EQ(plugLossUA(st, 2), 3.0);
  // The top zone is one unit higher than the divisor.
  EXPECT_DOUBLE_EQ(plugLossUA(st, 3), 333334.0 / 333333.0 * 300.0 + 5.0);
  for (int i = 1; i <= 3; ++i) st.solver.tStartArr[i] = 20.0;
  assembleAndSolve(st, host, 3, 60.0);
  EXPECT_TRUE(host.stdoutLines.empty());  // the excess 300/333333 W/K is below 0.001
  s.uaSide3 = 400.0;
  assembleAndSolve(st, host, 3, 60.0);
  ASSERT_EQ(host.stdoutLines.size(), 1U);
  EXPECT_EQ(host.stdoutLines[0].rfind("ERROR IN SUM UA 411.0  sumUA= 411.0012", 0), 0U);

  buildChain(st, {{1.0, 20.0, 0, 200000}, {1.0, 20.0, 200000, 500000}, {1.0, 20.0, 500000, kZTop}});
  EXPECT_DOUBLE_EQ(plugLossUA(st, 2), 133333.0 / 333333.0 * 2.0 + 166667.0 / 333333.0 * 3.0);
  // A single plug is the highest and the lowest: it takes the top only.
  buildChain(st, {{1.0, 20.0, 0, kZTop}});
  EXPECT_DOUBLE_EQ(plugLossUA(st, 1), 2.0 + 3.0 + 333334.0 / 333333.0 * 400.0 + 5.0);
}

TEST_F(Conduction, BarriersApplyFromTheLowerPlugOn) {
  // Centres at 200000 and 700000; dx = 0.75 m, lambda A = 0.12 W m/K.
  buildChain(st, {{1e5, 30.0, 0, 400000}, {1e5, 50.0, 400000, kZTop}});
  const double plain = 0.12 / 0.75;
  const double series = 1.0 / (1.0 / 2.0 + 0.75 / 0.12);
  Store& s = st.store;
  s.uaBarrier = 2.0;
  EXPECT_DOUBLE_EQ(interfaceConductance(st, 1, 2), plain);  // mode 0
  s.barrierMode = 1;
  for (auto [z, k] :
       {std::pair{200000, series}, {699999, series}, {700000, plain}, {199999, plain}}) {
    s.zBarrier = z;
    EXPECT_DOUBLE_EQ(interfaceConductance(st, 1, 2), k) << z;
  }
  s.barrierMode = 2;
  for (auto [t, k] : {std::pair{30.0, series}, {49.999, series}, {50.0, plain}, {29.999, plain}}) {
    s.tBarrier = t;
    EXPECT_DOUBLE_EQ(interfaceConductance(st, 1, 2), k) << t;
  }
}

TEST_F(Conduction, NoConductionWithoutConductivityOrWithAnUnknownMode) {
  buildChain(st, {{1e5, 30.0, 0, 400000}, {1e5, 50.0, 400000, kZTop}});
  Store& s = st.store;
  s.barrierMode = 3;
  EXPECT_EQ(interfaceConductance(st, 1, 2), 0.0);
  st.solver.tStartArr[1] = 30.0;
  st.solver.tStartArr[2] = 50.0;
  assembleAndSolve(st, host, 2, 3600.0);
  EXPECT_NEAR(st.plugs[1].Temp, 30.0, 1e-12);
  EXPECT_NEAR(st.plugs[2].Temp, 50.0, 1e-12);
  // lambda = 0 with a barrier between the plugs: no conduction, no NaN; and
  // a barrier without conductance insulates.
  s.barrierMode = 2;
  s.tBarrier = 40.0;
  s.uaBarrier = 5.0;
  s.lambda = 0.0;
  EXPECT_EQ(interfaceConductance(st, 1, 2), 0.0);
  s.lambda = 0.6;
  s.uaBarrier = 0.0;
  EXPECT_EQ(interfaceConductance(st, 1, 2), 0.0);
}

TEST_F(Conduction, CoincidingPlugsConductOverOneHeightUnit) {
  // Two plugs of zero height at the same level have no centre distance.
  buildChain(st, {{1e5, 20.0, 0, 500000},
                  {10.0, 80.0, 500000, 500000},
                  {10.0, 40.0, 500000, 500000},
                  {1e5, 60.0, 500000, kZTop}});
  const double k = interfaceConductance(st, 2, 3);
  EXPECT_DOUBLE_EQ(k, 0.12 / (1.5 / (2.0 * kZTop)));

  const std::vector<double> before = chainTemps(st);
  const std::array<double, 4> cap{1e5, 10.0, 10.0, 1e5};
  for (int i = 1; i <= 4; ++i) st.solver.tStartArr[i] = before[static_cast<std::size_t>(i - 1)];
  assembleAndSolve(st, host, 4, 600.0);
  const std::vector<double> after = chainTemps(st);
  double e0 = 0.0;
  double e1 = 0.0;
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(std::isfinite(after[i]));
    e0 += cap[i] * before[i];
    e1 += cap[i] * after[i];
  }
  EXPECT_NEAR(e1, e0, 1e-6 * e0);  // conduction alone keeps the energy
  EXPECT_NEAR(after[1], after[2], 1e-3);
  EXPECT_TRUE(host.messagesSent.empty());
}

// The solver keeps loss UA and conductances by plug record between calls:
// what it solves must still follow the store's quantities and the heights.
TEST_F(Conduction, KeptTermsFollowTheStoreAndTheHeights) {
  auto solveTwoPlugs = [this](State& x, int32_t boundary) {
    buildChain(x, {{1e5, 30.0, 0, boundary}, {1e5, 50.0, boundary, kZTop}});
    x.solver.tStartArr[1] = 30.0;
    x.solver.tStartArr[2] = 50.0;
    assembleAndSolve(x, host, 2, 3600.0);
    return chainTemps(x);
  };
  st.store.uaSide1 = 2.0;
  solveTwoPlugs(st, 400000);
  // Other quantities over the same heights, then other heights.
  for (const int32_t boundary : {400000, 300000}) {
    st.store.lambda = 60.0;
    st.store.uaSide1 = 20.0;
    auto fresh = std::make_unique<State>();
    test::setStore(*fresh, 0.3, 1.5, 60.0);
    fresh->store.uaSide1 = 20.0;
    EXPECT_EQ(solveTwoPlugs(st, boundary), solveTwoPlugs(*fresh, boundary)) << boundary;
  }
  // The lower plug's conductance upwards over a shorter span.
  auto solveThreePlugs = [this](State& x) {
    buildChain(x,
               {{1e5, 30.0, 0, 300000}, {1e5, 50.0, 300000, 600000}, {1e5, 60.0, 600000, kZTop}});
    for (int i = 1; i <= 3; ++i) x.solver.tStartArr[static_cast<std::size_t>(i)] = x.plugs[i].Temp;
    assembleAndSolve(x, host, 3, 3600.0);
    return chainTemps(x);
  };
  auto fresh = std::make_unique<State>();
  test::setStore(*fresh, 0.3, 1.5, 60.0);
  fresh->store.uaSide1 = 20.0;
  EXPECT_EQ(solveThreePlugs(st), solveThreePlugs(*fresh));
}

TEST_F(Conduction, OutOfRangeIsLimitedAndNonFiniteIsDivergence) {
  buildChain(st, {{1e6, 10.0, 0, 500000}, {1e6, 50.0, 500000, kZTop}});
  st.store.lambda = 0.0;
  st.plugs[1].qV = -13.0 * 1e6 / 3600.0;  // to -3 degC in one hour
  st.plugs[2].qV = 60.0 * 1e6 / 3600.0;   // to 110 degC
  st.solver.tStartArr[1] = 10.0;
  st.solver.tStartArr[2] = 50.0;
  assembleAndSolve(st, host, 2, 3600.0);
  EXPECT_EQ(host.countMessages("T OF STORE IS OUT OF RANGE [0-100]", "Warning"), 2);
  EXPECT_EQ(st.plugs[1].Temp, 0.1);
  EXPECT_EQ(st.plugs[1].TempIter, 0.1);
  EXPECT_EQ(st.solver.tIter[1], 0.1);
  EXPECT_EQ(st.plugs[2].Temp, 100.0);

  host.clear();
  st.plugs[2].qV = std::numeric_limits<double>::infinity();
  EXPECT_THROW(assembleAndSolve(st, host, 2, 3600.0), FatalStop);
  EXPECT_TRUE(st.stopped);
  EXPECT_EQ(st.solver.solverStatus, 2);
  ASSERT_EQ(host.messagesSent.size(), 1U);  // no range warning before it
  EXPECT_EQ(host.messagesSent[0].text, "PLUG FLOW MODEL HAS DIVERGED");
  EXPECT_EQ(host.messagesSent[0].severity, "Fatal");
}

// The kept elimination gives the plain solve's bits after a row changes.
TEST(KeptElimination, FollowsAChangedRowBitForBit) {
  auto w = std::make_unique<SolverWork>();
  const int n = 5;
  for (int i = 1; i <= n; ++i) {
    w->tStartArr[i] = 20.0 + 7.0 * i;
    w->capArr[i] = 100.0 + i;
    w->uaArr[i] = 0.3 * i;
    w->tAmbArr[i] = 15.0;
    w->qSrc[i] = i == 2 ? 50.0 : 0.0;
    w->kCond[i] = 3.0 + 0.1 * i;
  }
  std::array<double, SolverWork::kSize> diag{}, rhs{}, t{};
  for (double k3 : {3.3, 9.7}) {
    w->kCond[3] = k3;
    solveKeptTridiagonal(*w, n);
    solveTridiagonal(n, w->tStartArr, w->qSrc, w->uaArr, w->tAmbArr, w->kCond, w->capArr, diag, rhs,
                     t);
    for (int i = 1; i <= n; ++i) EXPECT_EQ(w->tNew[i], t[i]) << k3 << " " << i;
  }
}

}  // namespace
}  // namespace plugstore
