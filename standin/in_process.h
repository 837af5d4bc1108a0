// A unit of the component run in this process: the model library linked in,
// one store of its own and host services of its own (clock, label 1, and a
// record of what it reported). Nothing is loaded at run time and nothing is
// shared between units, so a process may hold any number of them and run
// them on as many threads.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "host/host_services.h"
#include "standin/protocol.h"
#include "store/state.h"

namespace standin {

class InProcessUnit final : public Unit {
 public:
  explicit InProcessUnit(std::string label1);
  int call(const HostClock& clock, double time, double* xin, double* out, double* par,
           int* info) override;
  [[nodiscard]] UnitRecord& record() override { return host_.record; }

 private:
  // The host as this unit's store sees it during a call.
  class Host final : public plugstore::HostServices {
   public:
    UnitRecord record;
    HostClock clock;
    std::string label1;
    int nextUnit = 30;  // file units handed out, as the host numbers them

    void messages(int errorCode, std::string_view text, std::string_view severity, int unit,
                  int type) override;
    void typeck(int, int*, int, int, int) override {}
    void foundBadParameter(int parameterNumber, std::string_view severity,
                           std::string_view text) override;
    void setStorageSize(int, int*) override {}
    int nextAvailableLogicalUnit() override { return nextUnit++; }
    void label(std::array<char, 300>& label, int unit, int labelIndex) override;
    double simulationTimeStep() override { return clock.timeStep; }
    double simulationStartTime() override { return clock.startTime; }
    int timestepIteration() override { return clock.iteration; }
    void debugLine(std::string_view line) override;
    void stdoutLine(std::string_view line) override;
  };

  Host host_;
  std::unique_ptr<plugstore::State> state_;
};

}  // namespace standin
