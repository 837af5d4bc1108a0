// PLACEHOLDER, to be replaced by the heat-transfer work.
#include "solver/solver.h"
namespace plugstore {
void solveCondHx(State&, HostServices&, int, double) {}
}  // namespace plugstore
