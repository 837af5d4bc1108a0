// Coupled solution of conduction, losses, heat inputs and heat exchangers.
//
// Working arrays are those of State::solver, 1-based over the plugs of the
// chain in order from the bottom (element 0 unused).
#pragma once

#include <array>
#include <span>

#include "host/host_services.h"
#include "store/state.h"

namespace plugstore {

// Convergence tolerance on the largest change between two iterates, K.
inline constexpr double kTolSolver = 0.01;
// A change above this counts as divergence, K.
inline constexpr double kDivergenceLimit = 1e10;
// An iteration that ends unconverged with its last change larger than this
// share of the change before is swinging or creeping, not converging: the
// sub-step is run again in shorter sub-steps while that is still possible.
inline constexpr double kContraction = 0.7;

// ---------------------------------------------------------------- solver iteration

// Plug temperatures at the end of the time step dt (s) for the n plugs of
// the chain, with the per-plug loss, accumulation and entropy terms. In a
// trial (st.solver.trial) it gives up and returns false when a plug that
// began inside 0.1 ... 100 degC would have to be limited, or when the
// iteration ends unconverged and no longer converging; the plugs then
// hold partial results and the caller starts the sub-step again.
bool solveCondHx(State& st, HostServices& host, int n, double dt);

// Logarithmic mean temperature difference and effectiveness of every Hx in
// use, from its inlet, outlet and mean store temperature.
void hxResults(State& st);

// Logarithmic mean of t1 - tRef and t2 - tRef; 0 when they are equal, or
// when either is not positive.
double logMeanTempDiff(double t1, double t2, double tRef);

// Largest |a[i] - b[i]| for i = 1 ... n; 0 for n <= 0.
double maxAbsChange(std::span<const double> a, std::span<const double> b, int n);

// ---------------------------------------------------------------- conduction system

// Loss UA (W/K) of plug p: its share of the three side zones, plus the top
// (highest plug) or else the bottom (lowest plug).
double plugLossUA(const State& st, int p);

// Conductance (W/K) between plug c and plug h directly above it, with the
// thermal barrier of the store.
double interfaceConductance(const State& st, int c, int h);

// Assembles the implicit conduction and loss system of the n plugs from
// st.solver.tStartArr, solves it, limits the result to 0.1 ... 100 degC and
// stores it in st.solver.tIter and in the plugs (Temp, TempIter). A
// non-finite solution ends the simulation as diverged.
void assembleAndSolve(State& st, HostServices& host, int n, double dt);

// The same over the plugs of st.chain, for the iterations of one solver
// call. `again`: the plugs' heights have not changed since the last
// assembly, so their loss UA and (unless a temperature barrier depends on
// the plug temperatures) the conductances between them are the same.
void solveConduction(State& st, HostServices& host, double dt, bool again);

// Backward-Euler balance of n plugs in a row, solved by elimination without
// pivoting. All arrays are 1-based; diag and rhs are scratch, t receives the
// solution.
void solveTridiagonal(int n, std::span<const double> tOld, std::span<const double> qSrc,
                      std::span<const double> uaArr, std::span<const double> tAmbArr,
                      std::span<const double> kCond, std::span<const double> capArr,
                      std::span<double> diag, std::span<double> rhs, std::span<double> t);

// solveTridiagonal of the n plugs over the arrays of w (tStartArr, qSrc,
// uaArr, tAmbArr, kCond, capArr) into w.tNew; the elimination of the rows
// that are the same as in the solve before, from the first row on, is
// taken from it (w.kept).
void solveKeptTridiagonal(SolverWork& w, int n);

// ---------------------------------------------------------------- heat passing

// Sets qV (heat of the Hx and the heat inputs) and CapSolver of every plug.
void getQvFromHeatExchanger(State& st, HostServices& host, int nHx, int n);

// The same for the plugs of st.chain.
void passHeatToPlugs(State& st, HostServices& host, int nHx);

// The plug that contains height z (integer units), the lower one on a
// boundary; 0 when none does.
int plugAtHeight(const PlugTable& t, double z);

// First CV of hx that ends above height z, numberOfHxCv + 1 when none does;
// the CV boundaries must not fall.
int firstCvEndingAbove(const HxRecord& hx, int32_t z);

// ---------------------------------------------------------------- heat exchanger

// One run of the CV march of an immersed heat exchanger over the time step
// dt (s), against the store temperatures in hx.tStore.
void stepBystep(State& st, HostServices& host, HxRecord& hx, double dt);

// True when the CV arrays of hx hold at least its numberOfHxCv CVs.
bool hxArraysFit(const HxRecord& hx);

// ---------------------------------------------------------------- sub-steps

// A step in which a flowing heat exchanger can exchange UA x step of more
// than the capacitance of the plugs around it is cut into sub-steps (below,
// the whole step runs at once, exactly as it always has) ...
inline constexpr double kCouplingRatio = 1.0;
// ... so short that each exchanges at most this share.
inline constexpr double kSubStepRatio = 0.4;

// Hx results that a step cut into sub-steps reports as their means.
inline constexpr std::array<double HxRecord::*, SubStepWork::Sums::kHxResults> kHxStepResults = {
    &HxRecord::qLoss,    &HxRecord::qUtil,    &HxRecord::qAcum,      &HxRecord::balHx,
    &HxRecord::uaHx,     &HxRecord::tOutHx,   &HxRecord::tStoreMean, &HxRecord::hInMean,
    &HxRecord::hOutMean, &HxRecord::hWallMean};

struct SubStepNeed {
  int k = 1;           // sub-steps the coupling asks for
  int hx = 0;          // the Hx (1-based) coupled most strongly, 0 for none
  double ratio = 0.0;  // largest UA x step / capacitance of a plug
};

// Sub-steps the flowing heat exchangers need over a step of dt seconds, from
// the plugs as they stand and the UA each CV is expected to have.
SubStepNeed couplingSubSteps(const State& st, double dt);

// True when also the sub-step working arrays of hx fit its CVs.
bool subStepArraysFit(const HxRecord& hx);

}  // namespace plugstore
