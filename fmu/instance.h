// One instance of the store FMU: a store of its own run in this process
// (its own state, its own host services), stepped by the master one
// communication step at a time. Time at the FMU's interface is in seconds;
// the component counts hours.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fmu/fmi2.h"
#include "fmu/settings.h"
#include "stepped_store.h"

namespace plugstore::fmu {

class Instance {
 public:
  Instance(std::string name, const fmi2CallbackFunctions& callbacks, bool loggingOn);

  // Reads resources/plugstore.txt at the resource location (a file URI) and
  // checks the GUID; false, with the reason logged, when it cannot.
  bool load(std::string_view resourceLocation, std::string_view guid);

  void setLogging(bool on, size_t nCategories, const fmi2String categories[]);
  fmi2Status setupExperiment(double startTime);
  fmi2Status enterInitialization();
  fmi2Status exitInitialization();
  fmi2Status doStep(double communicationPoint, double stepSize);
  fmi2Status terminate();
  fmi2Status reset();
  fmi2Status getReal(const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]);
  fmi2Status setReal(const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]);
  fmi2Status lastSuccessfulTime(fmi2Real* value) const;
  fmi2Status terminated(fmi2Boolean* value) const;

  // Logs the text as an error and puts the instance into the error state,
  // in which every later call but fmi2Reset and fmi2FreeInstance fails.
  fmi2Status fail(std::string_view text);
  // fmi2Error for a call the instance cannot take in its state (logged).
  fmi2Status unavailable(std::string_view call);
  // Logs what is not supported and returns fmi2Error, without the error state.
  fmi2Status unsupported(std::string_view call);

 private:
  enum class Phase { instantiated, initialization, stepping, terminated, error };

  void log(fmi2Status status, std::string_view category, std::string_view text) const;
  // Passes on what the component reported since the last look; tells whether
  // it warned, and whether it stopped the simulation.
  fmi2Status takeReports(double hours);
  [[nodiscard]] double seconds() const;

  std::string name_;
  fmi2CallbackFunctions callbacks_;
  bool logNotices_;
  bool logWarnings_ = true;
  bool logErrors_ = true;
  Settings settings_;
  std::string resources_;  // folder, label 1 of the store
  Phase phase_ = Phase::instantiated;
  double startHours_ = 0.0;
  std::array<double, standin::kParameters> parameters_{};
  std::array<double, standin::kInputs> inputs_{};
  std::array<double, standin::kOutputs> outputs_{};
  std::unique_ptr<python::SteppedStore> store_;
};

}  // namespace plugstore::fmu
