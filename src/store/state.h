// All model state of one store. One State object is one store; the exported
// entry point keeps one per unit number, tests may create as many as they like.
//
// Index conventions:
//  - plug records are addressed by their table index 0 ... 400 (0 and 400 are
//    the sentinels), exactly as the chain links store them;
//  - the fixed tables of ports (10), heat exchangers (6), sensors (10),
//    zones (5), heat inputs (10 + 10) and profile points (20) are 0-based
//    std::arrays: port d is ports[d - 1];
//  - the heat-exchanger control-volume arrays are 1-based: they hold
//    extent + 1 elements and element 0 is unused, so CV c lies between
//    tNode[c] and tNode[c + 1] as in the physics.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace plugstore {

// Integer relative heights: 1000000 units per store height.
inline constexpr int32_t kZTop = 1000000;

// Below this mass flow (1 kg/h) a port or heat exchanger counts as not flowing.
inline constexpr double kMDotMin = 1.0 / 3600.0;

inline constexpr int kNumPorts = 10;
inline constexpr int kMaxHx = 6;
inline constexpr int kNumSensors = 10;
inline constexpr int kNumZones = 5;
inline constexpr int kNumHeatInputs = 10;  // per bank (A and B)
inline constexpr int kNumProfilePoints = 20;

inline constexpr int kNumParameters = 219;
inline constexpr int kNumInputs = 69;
inline constexpr int kNumOutputs = 202;

// ---------------------------------------------------------------- plug table

inline constexpr int kPlugRecords = 401;
inline constexpr int kBottomSentinel = 0;
inline constexpr int kTopSentinel = 400;
inline constexpr double kBottomSentinelTemp = -273.15;
inline constexpr double kTopSentinelTemp = 550000.0;

struct Plug {
  double Temp = 0.0;       // degC
  double Cap = 0.0;        // J/K; > 0 in use, 0 free, -1 sentinel
  double CapSolver = 0.0;  // J/K, storage capacitance seen by the solver
  double TempIter = 0.0;   // degC, the solver's new temperature
  double Flow = 0.0;       // kg/s, net upward flow through the top face
  double sL = 0.0;         // J/K, loss heat of the step / absolute temperature
  int32_t zUp = 0;
  int32_t zDown = 0;
  int32_t iUp = 0;
  int32_t iDown = 0;
  double TempStart = 0.0;  // degC, temperature when the solver was entered
  double Temp0 = 0.0;      // degC, temperature here at the start of the step
  double qV = 0.0;         // W, heat from heat exchangers and heat inputs
  double qL = 0.0;         // W, heat loss
  double qA = 0.0;         // W, heat accumulation
};

struct PlugTable {
  std::array<Plug, kPlugRecords> rec{};
  // No pool record below this one is free (Cap <= 0): the search for the
  // lowest free record starts here.
  int32_t freeFrom = 1;
  // Counts the changes of the chain (links and capacitances) of this table
  // object; a copy into it is a change too, so that a chain order taken of
  // it holds exactly while the count stays the same.
  uint64_t edits = 0;
  // Every plug of the chain has the face flow +0.0 (set where the flow part
  // found no active port): a record that joins the chain keeps this only if
  // its own flow is +0.0 too; links written by hand (touch) clear it.
  bool flowsZero = false;

  PlugTable() = default;
  PlugTable(const PlugTable&) = default;
  PlugTable& operator=(const PlugTable& o) {
    rec = o.rec;
    freeFrom = o.freeFrom;
    flowsZero = o.flowsZero;
    ++edits;
    return *this;
  }
  ~PlugTable() = default;
  void touch() {
    ++edits;
    flowsZero = false;
  }
  // To be called for a record that joins the chain.
  void noteJoin(int p) {
    if (std::bit_cast<uint64_t>(rec[static_cast<std::size_t>(p)].Flow) != 0) flowsZero = false;
  }

  Plug& operator[](int i) { return rec[static_cast<std::size_t>(i)]; }
  const Plug& operator[](int i) const { return rec[static_cast<std::size_t>(i)]; }
  // First plug of the chain (iUp of the bottom sentinel).
  [[nodiscard]] int first() const { return rec[kBottomSentinel].iUp; }
  // To be called after the Cap of pool record p was set: a record that
  // became free may be the lowest free one.
  void noteCap(int p) {
    ++edits;
    if (p >= 1 && p < freeFrom && !(rec[static_cast<std::size_t>(p)].Cap > 0.0)) freeFrom = p;
  }
};

// The plugs of the chain in their order from the bottom, taken by one walk
// for loops that do not change the chain (the solver's, the outputs'):
// position i (1 ... n) holds the record index.
struct ChainOrder {
  std::array<int32_t, kPlugRecords + 1> rec{};
  int32_t n = 0;
  // The table and its count of changes when the order was taken; `whole`:
  // the walk went to the end of the chain, not only over its first n plugs.
  const PlugTable* table = nullptr;
  uint64_t edits = 0;
  bool whole = false;
  [[nodiscard]] int at(int i) const { return rec[static_cast<std::size_t>(i)]; }
  // True while the order is that of t's chain as it stands.
  [[nodiscard]] bool holds(const PlugTable& t) const { return table == &t && edits == t.edits; }
};

// ---------------------------------------------------------------- ports

struct DirectPort {
  double mDot = 0.0;    // kg/s, >= 0
  double tIn = 0.0;     // degC
  double tInRev = 0.0;  // degC
  double tOut = 0.0;    // degC
  int32_t zIn = 0;
  int32_t zA = 0;
  int32_t zOut = 0;
  int32_t zB = 0;
  double capFlow = 0.0;   // J/K passing in the time step
  double capAbove = 0.0;  // J/K of capFlow drawn from above the outlet
  double cp = 0.0;        // J/(kg K)
  double qPort = 0.0;     // W
  double sPort = 0.0;     // W/K
  double exPort = 0.0;    // W
  int32_t inletMode = 0;  // -1 temperature seeking, 0 fixed height + mixing
};

// ---------------------------------------------------------------- store

// A height z and the profile points around it (1-based, hi = lo + 1), or
// lo = hi: z lies beyond the points and takes the value of point lo. The
// points are where the store's height zTop puts them.
struct ProfileRead {
  double z = 0.0;
  int32_t top = 0;  // zTop that placed the profile points
  int32_t lo = 0;
  int32_t hi = 0;
  bool known = false;
};

struct Store {
  // parameters 1 ... 16
  double volume = 0.0;   // m3
  double density = 0.0;  // kg/m3
  double cpStore = 0.0;  // J/(kg K)
  double lambda = 0.0;   // W/(m K)
  double height = 0.0;   // m
  double T_init = 0.0;   // degC
  int32_t maxPlugs = 0;
  int32_t minPlugs = 0;
  int32_t minPlugHeight = 0;
  int32_t maxPlugHeight = 0;
  double minDeltaT = 0.0;
  int32_t startProfileSwitch = 0;
  double T_ref = 0.0;
  double T_refK = 0.0;
  double uaBottom = 0.0;
  double uaSide1 = 0.0;
  double uaSide2 = 0.0;
  double uaSide3 = 0.0;
  double uaTop = 0.0;
  double sumUApar = 0.0;

  // parameters 61 ... 85
  std::array<int32_t, kNumSensors> zSensor{};
  std::array<int32_t, kNumZones> zZoneLow{};
  std::array<int32_t, kNumZones> zZoneHigh{};
  int32_t barrierMode = 0;
  int32_t zBarrier = 0;
  double tBarrier = 0.0;
  double uaBarrier = 0.0;
  int32_t nHx = 0;  // as read (may be out of 0 ... 6); loops use hxInUse()

  // parameters 200 ... 219 and inputs 50 ... 69
  std::array<double, kNumHeatInputs> zHeatA{};
  std::array<double, kNumHeatInputs> zHeatB{};
  std::array<double, kNumHeatInputs> qHeatA{};  // W
  std::array<double, kNumHeatInputs> qHeatB{};  // W
  double sumQHeatA = 0.0;
  double sumQHeatB = 0.0;

  // constants set with every parameter reading
  int32_t zTop = kZTop;
  int32_t iteMaxHx = 5;
  int32_t iteMaxNoHx = 2;
  double relaxHx = 0.8;
  double relaxNoHx = 1.0;
  int32_t cleanSwitch = -1;
  double capTot = 0.0;  // J/K
  double A = 0.0;       // m2, cross-section

  // per call
  double time = 0.0;         // h, the host's time argument
  double dtSec = 0.0;        // s, host time step x 3600
  double tAmb = 0.0;         // degC, input 31
  double throughput = 0.0;   // J/K, sum of capFlow of all ports
  int32_t nPlugsSolver = 0;  // plug count handed to the solver
  int32_t hxActive = 0;      // -1 when some Hx flows in this call

  // host identity, copied at the initial call
  int32_t unit = 0;
  int32_t type = 0;
  std::array<char, 300> dataPath{};  // label 1, blank padded

  // 20-point profile (heights in integer units held as doubles)
  std::array<double, kNumProfilePoints> zProfile{};
  std::array<double, kNumProfilePoints> tProfile{};
  // Where the heights the profile is read at lie among the profile points
  // (the sensors', the profile outputs', the heat inputs' A then B): it
  // depends on the height alone, the points being fixed, and is kept with it.
  static constexpr std::size_t kReadOutputs = kNumSensors;
  static constexpr std::size_t kReadHeatA = kReadOutputs + 10;
  static constexpr std::size_t kReadHeatB = kReadHeatA + kNumHeatInputs;
  std::array<ProfileRead, kReadHeatB + kNumHeatInputs> profileReads{};
  // Counts the readings of the parameters, which place those heights; the
  // reads hold while the count is the one they were placed at (0: placed
  // at every call).
  uint64_t readings = 0;
  uint64_t readsAt = 0;
};

// ---------------------------------------------------------------- Hx

struct HxRecord {
  // parameters p ... p + 18
  double zInPar = 0.0;
  double zOutPar = 0.0;
  double dIn = 0.0;
  double dOut = 0.0;
  double lengthHx = 0.0;
  double lambdaWall = 0.0;
  double glycolConc = 0.0;  // %
  double volumeHx = 0.0;    // m3
  double cpHx = 0.0;        // J/(kg K)
  double rhoHx = 0.0;       // kg/m3
  int32_t numberOfHxCv = 0;
  int32_t uaModel = 0;
  double cUser = 0.0;
  double nUser = 0.0;
  double expFlow = 0.0;
  double expDeltaT = 0.0;
  double expTemp = 0.0;
  double uaNominal = 0.0;  // kJ/(h K)
  double unusedPar = 0.0;

  // derived from the parameters, effective heights changed by the inputs
  double zInHx = 0.0;
  double zOutHx = 0.0;
  int32_t zHxLow = 0;
  int32_t zHxHigh = 0;
  int32_t dzCv = 0;
  int32_t flowUp = 0;  // -1 when the fluid flows upwards

  // per call
  double tInHx = 0.0;
  double mDotHx = 0.0;  // kg/s
  int32_t flowReversed = 0;

  // control-volume arrays, 1-based (see top of file); cvExtent is the n
  // they were allocated for, -1 while not allocated
  int32_t cvExtent = -1;
  std::vector<double> tStore;
  std::vector<double> uaCv;
  std::vector<double> qCv;
  std::vector<double> tCvOld;
  std::vector<double> tNode;  // n + 1 nodes
  std::vector<double> tWall;
  std::vector<double> tWallOld;
  std::vector<int32_t> zCv;  // n + 1 boundaries
  // Working copies for calls whose heat part runs in sub-steps: the CV fluid
  // temperatures at the start of the call and at the start of the current
  // attempt (tCvOld advances from sub-step to sub-step and is put back at the
  // end of the call), and the CV UA values reached at the end of the last
  // time step, from which the next step's sub-step count is estimated.
  std::vector<double> tCvCall;
  std::vector<double> tCvAttempt;
  std::vector<double> uaCvOld;

  // results
  double tOutHx = 0.0;
  double qUtil = 0.0;
  double qAcum = 0.0;
  double qLoss = 0.0;
  double balHx = 0.0;
  double uaHx = 0.0;
  double tStoreMean = 0.0;
  double hInMean = 0.0;
  double hOutMean = 0.0;
  double hWallMean = 0.0;
  double lmtd = 0.0;
  double effectiveness = 0.0;
};

// ---------------------------------------------------------------- balance

struct Balance {
  double E = 0.0;
  double E_old = 0.0;
  double S = 0.0;
  double S_old = 0.0;
  double Ex = 0.0;
  double Ex_old = 0.0;
  double eLossStep = 0.0;
  double dEinpTot = 0.0;
  double tMeanOldK = 0.0;
  double tMeanK = 0.0;
  double tMeanStepK = 0.0;
  std::array<double, kNumZones> tZone{};
  std::array<double, kNumSensors> tSensor{};
  double tAvg = 0.0;
  int32_t nPlugsFlow = 0;
  double dtSec = 0.0;
  double sPortSum = 0.0;
  double sLossStep = 0.0;
  double sDotMean = 0.0;
  double sPortMean = 0.0;
  double sResMean = 0.0;
  double sDot = 0.0;
  double sLossDot = 0.0;
  double sRes = 0.0;
  double exPortSum = 0.0;
  double exDotMean = 0.0;
  double exPortMean = 0.0;
  double exResMean = 0.0;
  double exDot = 0.0;
  double exLossDot = 0.0;
  double exRes = 0.0;
  double exLossStep = 0.0;
  double sumQV = 0.0;
  double sumQLoss = 0.0;
  double sumQAcum = 0.0;
  double bal = 0.0;
};

// ---------------------------------------------------------------- solver

// Working arrays of one solver call and its diagnostics; 1-based over the
// plugs of the chain (at most 399), sized so no call allocates.
struct SolverWork {
  static constexpr int kSize = kPlugRecords;
  std::array<double, kSize> tStartArr{};
  std::array<double, kSize> tIter{};
  std::array<double, kSize> tPrev{};
  std::array<double, kSize> kCond{};
  std::array<double, kSize> qSrc{};
  std::array<double, kSize> uaArr{};
  std::array<double, kSize> tAmbArr{};
  std::array<double, kSize> capArr{};
  std::array<double, kSize> diag{};    // elimination scratch
  std::array<double, kSize> rhs{};     // elimination scratch
  std::array<double, kSize> tNew{};    // solution of one solve
  std::array<double, kSize> lossUA{};  // W/K, loss UA of each plug
  // The elimination of the last solve: each row's diagonal before and after
  // it, its conductance to the row below and its multiplier. Rows whose
  // diagonal and conductance are those of the last solve, bit for bit, from
  // the first row on, eliminate to the same values.
  struct Elimination {
    std::array<double, kSize> diagIn{};
    std::array<double, kSize> kBelow{};
    std::array<double, kSize> diagOut{};
    std::array<double, kSize> m{};
    int32_t n = 0;
  };
  Elimination kept;
  double sumUA = 0.0;    // W/K, their sum
  bool limited = false;  // the last solution limited a plug

  // A plug's loss UA depends on its heights and on whether it is the
  // highest or the lowest; its conductance to the plug above on the heights
  // of both (without a temperature barrier; without a barrier at a height
  // on the span from its bottom to the top of the plug above alone). Both are kept by record with
  // what they came from, and hold while the store's quantities they use
  // (termsInputs) stay the same.
  struct PlugTerms {
    int32_t zDown = 0;
    int32_t zUp = 0;
    int32_t end = 0;  // 1 highest, 2 lowest, 0 between
    uint32_t lossEpoch = 0;
    double lossUA = 0.0;
    int32_t zDownAbove = 0;
    int32_t zUpAbove = 0;
    int32_t zDownCond = 0;
    int32_t zUpCond = 0;
    int64_t spanCond = 0;  // without a barrier at a height: zUp above - zDown
    uint32_t condEpoch = 0;
    double conductance = 0.0;
  };
  std::array<PlugTerms, kSize> terms{};
  static constexpr std::size_t kTermsInputs = 12;
  std::array<double, kTermsInputs> termsInputs{};
  uint32_t termsEpoch = 0;  // 0: nothing kept yet
  int32_t ite = 0;
  double errSolver = 0.0;
  int32_t solverStatus = 0;  // 0 iterating, 1 converged, 2 diverged, 3 limit
  double QvTank = 0.0;
  double sumQHx = 0.0;
  // Sums over the plugs of the last solution: heat in, loss, loss entropy.
  double sumQV = 0.0;
  double sumQLoss = 0.0;
  double sumSL = 0.0;
  // Set while a heat sub-step may still be retried with shorter sub-steps:
  // a temperature that would have to be limited then stops the solution
  // (limitAvoidable) instead of being limited with a warning.
  bool trial = false;
  bool limitAvoidable = false;
  int32_t remaining = 1;     // sub-steps of the attempt still to run, this one included
  double limitGrowth = 4.0;  // how many times as many sub-steps keep a plug in range
};

// ---------------------------------------------------------------- sub-steps

// A call whose step is too long for the heat exchangers' coupling or for a
// heat input runs its heat part (and, when ports flow, its flow) in equal
// sub-steps. These sums make the outputs describe the whole step.
struct SubStepWork {
  static constexpr int kMaxSubSteps = 256;

  // Whole-step results, each sub-step weighted by its share of the step.
  struct Sums {
    double sumQV = 0.0;
    double sumQLoss = 0.0;
    double sLossStep = 0.0;  // J/K
    // per Hx, its results in the order of kHxStepResults (solver.h)
    static constexpr std::size_t kHxResults = 10;
    std::array<std::array<double, kHxResults>, kMaxHx> hx{};
    std::array<double, kNumPorts> tOut{};
    int32_t heatSubSteps = 0;  // heat sub-steps run
  };
  Sums sums;
  Sums attemptSums;            // sums before the current attempt
  bool spread = false;         // this call runs in more than one sub-step
  bool limitReported = false;  // the temperature limit warned in this call
  bool first = true;           // the next heat sub-step is the call's first

  // Why this call is cut, for the one notice of a simulation: 1 the coupling
  // of Hx reasonHx (ratio), 2 a plug would leave the range, 3 the coupling
  // did not converge.
  int32_t reason = 0;
  int32_t reasonHx = 0;
  double ratio = 0.0;
  bool noticed = false;  // the sub-stepping was reported in this simulation

  // plug heat flows reached before the current heat sub-step, by record
  std::array<double, kPlugRecords> qV{};
  std::array<double, kPlugRecords> qL{};
  std::array<double, kPlugRecords> qA{};
  std::array<double, kPlugRecords> sL{};
  // the plugs before an attempt, to start it again with more sub-steps
  PlugTable attempt;
  // port fields as the input reading left them
  std::array<DirectPort, kNumPorts> ports{};
};

// ---------------------------------------------------------------- start profile

// Read-loop state of the start-profile reader; it survives between calls.
struct ProfileReader {
  int32_t lineNumber = 0;
  double lineIndex = 0.0;  // column 1 of that record as read, for the messages
  int32_t recordCount = 0;
  int32_t readStatus = 0;
  std::array<double, 8> values{};  // the eight read variables
};

// ---------------------------------------------------------------- diagnostics

struct Switches {
  int32_t debugLogSwitch = 0;          // 1: stage banners on the debug channel
  int32_t consistencyCheckSwitch = 0;  // -1: consistency and balance lines
  int32_t dumpSwitch = 0;              // -1: plug-table dumps are written
};

// ---------------------------------------------------------------- the store

struct State {
  Store store;
  PlugTable plugs;
  PlugTable savedPlugs;  // plug state at the start of the time step
  ChainOrder chain;      // scratch: the order of the chain where it holds still
  // The count of changes of the working table when the mixing after the heat
  // last found every pair of its chain stable. Until the chain changes, no
  // plug temperature changes either before the next sort of the flow (which
  // then has nothing to do): only the solver and the insertion mix change
  // temperatures, the one after the sort, the other with a new plug.
  uint64_t stableAt = 0;
  bool stableKnown = false;
  // Highest pool record that has held a plug since the set-up: the working
  // and the saved table agree on every record above it, so that copying
  // one into the other may stop there.
  int32_t plugHighWater = kTopSentinel - 1;
  // The working table is the saved one: from the save at the end of a step
  // until an iterative call works on it, which then needs no restore.
  bool plugsAsSaved = false;
  std::array<DirectPort, kNumPorts> ports{};
  std::array<HxRecord, kMaxHx> hx{};
  Balance bal;
  SolverWork solver;
  SubStepWork sub;
  ProfileReader profile;
  Switches sw;

  // The parameter array as last read, while reading it again would change
  // nothing (no Hx height was reported as bad): then it is not read again.
  std::array<double, kNumParameters> parametersRead{};
  bool parametersCurrent = false;

  // copied from info(1), info(2) at every call
  int32_t unitCopy = 0;
  int32_t typeCopy = 0;
  int32_t dumpUnit = 0;
  // Unit number carried by the plug-table dump file names when the library
  // holds several stores (their folders may be the same); 0: plain names.
  int32_t dumpFileUnit = 0;

  // Set when the parameter checks of the initial call failed: the store is
  // not built and iterative calls calculate nothing.
  bool badParameters = false;
  // Set by a fatal condition: nothing more is calculated in this simulation.
  bool stopped = false;
  // True once an initial call has built the store.
  bool initialised = false;
};

// Number of heat-exchanger records in use: nHx limited to the table.
inline int hxInUse(const Store& s) {
  if (s.nHx < 0) return 0;
  return s.nHx > kMaxHx ? kMaxHx : s.nHx;
}

}  // namespace plugstore
