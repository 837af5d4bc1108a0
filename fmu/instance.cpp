#include "fmu/instance.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "host/catalog.h"

namespace plugstore::fmu {

namespace {

constexpr double kSecondsPerHour = 3600.0;
constexpr std::string_view kNotices = "logNotices";
constexpr std::string_view kWarnings = "logStatusWarning";
constexpr std::string_view kErrors = "logStatusError";

// The logger takes a format: the text's own '%' and '#' (which masters read
// as the start of a variable reference) are doubled.
std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '%' || c == '#') out += c;
    out += c;
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The folder of a file URI ("file:///a/b", "file:/a/b", "file://localhost/a/b",
// on Windows "file:///C:/a/b"), %-escapes decoded, no trailing slash; empty
// when it is no such URI.
std::string folderOfUri(std::string_view uri) {
  if (!uri.starts_with("file:")) return {};
  uri.remove_prefix(5);
  if (uri.starts_with("//")) {
    uri.remove_prefix(2);
    const std::size_t slash = uri.find('/');
    if (slash == std::string_view::npos) return {};
    const std::string_view host = uri.substr(0, slash);
    if (!host.empty() && host != "localhost") return {};
    uri.remove_prefix(slash);
  }
  std::string path;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && hexDigit(uri[i + 1]) >= 0 &&
        hexDigit(uri[i + 2]) >= 0) {
      path += static_cast<char>(hexDigit(uri[i + 1]) * 16 + hexDigit(uri[i + 2]));
      i += 2;
    } else {
      path += uri[i];
    }
  }
#if defined(_WIN32)
  if (path.size() >= 3 && path[0] == '/' && path[2] == ':') path.erase(0, 1);
#endif
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string numberText(double v) {
  std::ostringstream s;
  s.precision(10);
  s << v;
  return s.str();
}

}  // namespace

Instance::Instance(std::string name, const fmi2CallbackFunctions& callbacks, bool loggingOn)
    : name_(std::move(name)), callbacks_(callbacks), logNotices_(loggingOn) {}

void Instance::log(fmi2Status status, std::string_view category, std::string_view text) const {
  if (callbacks_.logger == nullptr) return;
  const bool on = category == kNotices    ? logNotices_
                  : category == kWarnings ? logWarnings_
                                          : logErrors_;
  if (!on) return;
  const std::string message = escaped(text);
  callbacks_.logger(callbacks_.componentEnvironment, name_.c_str(), status,
                    std::string(category).c_str(), message.c_str());
}

fmi2Status Instance::fail(std::string_view text) {
  log(fmi2Error, kErrors, text);
  phase_ = Phase::error;
  return fmi2Error;
}

fmi2Status Instance::unavailable(std::string_view call) {
  if (phase_ == Phase::error) {
    log(fmi2Error, kErrors,
        std::string(call) +
            ": the instance stopped at an error; only fmi2Reset and "
            "fmi2FreeInstance are possible");
    return fmi2Error;
  }
  static constexpr std::array<std::string_view, 5> kPhases = {"instantiated", "initialization mode",
                                                              "stepping", "terminated", "error"};
  return fail(std::string(call) + " is not possible in this state (" +
              std::string(kPhases[static_cast<std::size_t>(phase_)]) + ")");
}

fmi2Status Instance::unsupported(std::string_view call) {
  log(fmi2Error, kErrors, std::string(call) + " is not supported by this FMU");
  return fmi2Error;
}

bool Instance::load(std::string_view resourceLocation, std::string_view guid) {
  resources_ = folderOfUri(resourceLocation);
  if (resources_.empty()) {
    fail("the resource location '" + std::string(resourceLocation) +
         "' is no file URI of the FMU's resources folder");
    return false;
  }
  const std::string file = resources_ + "/" + std::string(kSettingsFile);
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    fail("cannot read " + file);
    return false;
  }
  const std::string fault = readSettings(text.str(), settings_);
  if (!fault.empty()) {
    fail(file + ": " + fault);
    return false;
  }
  if (guid != settings_.guid) {
    fail("the GUID " + std::string(guid) + " is not this FMU's (" + settings_.guid +
         "): modelDescription.xml and resources do not belong together");
    return false;
  }
  parameters_ = settings_.parameters;
  inputs_ = settings_.inputs;
  startHours_ = settings_.start;
  return true;
}

void Instance::setLogging(bool on, size_t nCategories, const fmi2String categories[]) {
  if (nCategories == 0 || categories == nullptr) {
    logNotices_ = logWarnings_ = logErrors_ = on;
    return;
  }
  for (size_t i = 0; i < nCategories; ++i) {
    const std::string_view c = categories[i] != nullptr ? categories[i] : "";
    if (c == kNotices || c == "logAll") logNotices_ = on;
    if (c == kWarnings || c == "logAll") logWarnings_ = on;
    if (c == kErrors || c == "logAll") logErrors_ = on;
  }
}

fmi2Status Instance::setupExperiment(double startTime) {
  if (phase_ != Phase::instantiated) return unavailable("fmi2SetupExperiment");
  if (!std::isfinite(startTime)) return fail("the start time must be a number of seconds");
  startHours_ = startTime / kSecondsPerHour;
  return fmi2OK;
}

fmi2Status Instance::enterInitialization() {
  if (phase_ != Phase::instantiated) return unavailable("fmi2EnterInitializationMode");
  phase_ = Phase::initialization;
  return fmi2OK;
}

fmi2Status Instance::exitInitialization() {
  if (phase_ != Phase::initialization) return unavailable("fmi2ExitInitializationMode");
  // The component reads startProfile.ini from label 1, 300 characters.
  if (parameters_[9] >= 1.0 && resources_.size() >= 300) {
    return fail(
        "the path of the resources folder is longer than the 299 characters the store "
        "can read its start profile from: unpack the FMU in a shorter path");
  }
  store_ = std::make_unique<python::SteppedStore>(parameters_, startHours_, settings_.step,
                                                  settings_.iterations, settings_.unit, resources_);
  if (takeReports(startHours_) == fmi2Error) return fail("the store could not be set up");
  // Outputs before the first step: the store at rest, no flow and no heat.
  std::array<double, standin::kInputs> rest = inputs_;
  for (const CatalogEntry& e : inputCatalog()) {
    if (e.name.ends_with(".massFlow") || e.name.ends_with(".power")) {
      rest[static_cast<std::size_t>(e.number - 1)] = 0.0;
    }
  }
  const bool rested = store_->restingOutputs(rest, outputs_);
  const fmi2Status reported = takeReports(startHours_);
  if (!rested || reported == fmi2Error) return fail("the store stopped at its start");
  phase_ = Phase::stepping;
  return reported;
}

double Instance::seconds() const {
  return (store_ ? store_->time() : startHours_) * kSecondsPerHour;
}

fmi2Status Instance::doStep(double communicationPoint, double stepSize) {
  if (phase_ != Phase::stepping) return unavailable("fmi2DoStep");
  if (!(stepSize > 0.0) || !std::isfinite(stepSize)) {
    return fail("fmi2DoStep: the communication step size " + numberText(stepSize) +
                " s is refused: a step must be a positive number of seconds");
  }
  const double now = seconds();
  if (!(std::abs(communicationPoint - now) <=
        1e-9 * std::max(1.0, std::abs(now)) + 1e-6 * stepSize)) {
    return fail("fmi2DoStep: the communication point " + numberText(communicationPoint) +
                " s is not where the last step ended, " + numberText(now) + " s");
  }
  if (!store_->step(inputs_, stepSize / kSecondsPerHour)) {
    return fail("fmi2DoStep: the step of " + numberText(stepSize) + " s from " +
                numberText(communicationPoint) + " s is refused by the store");
  }
  outputs_ = store_->outputs();
  const fmi2Status reported = takeReports(store_->time());
  if (reported == fmi2Error) {
    return fail("the store stopped the simulation at " + numberText(store_->time()) + " h");
  }
  return reported;
}

fmi2Status Instance::takeReports(double hours) {
  standin::UnitRecord& r = store_->record();
  fmi2Status status = fmi2OK;
  for (const standin::Message& m : r.messages) {
    const std::string text = m.severity + " at " + numberText(hours * kSecondsPerHour) + " s (" +
                             numberText(hours) + " h): " + m.text;
    if (m.severity == "FATAL" || m.severity == "Fatal") {
      log(fmi2Error, kErrors, text);
    } else if (m.severity == "WARNING" || m.severity == "Warning") {
      log(fmi2Warning, kWarnings, text);
      status = std::max(status, fmi2Warning);
    } else {
      log(fmi2OK, kNotices, text);
    }
  }
  const auto parameters = parameterCatalog();
  for (const standin::BadParameter& b : r.badParameters) {
    const std::string name =
        b.number >= 1 && b.number <= static_cast<int>(parameters.size())
            ? std::string(parameters[static_cast<std::size_t>(b.number - 1)].name)
            : "?";
    log(fmi2Error, kErrors,
        "bad parameter " + std::to_string(b.number) + " " + name + ": " + b.text);
  }
  r.messages.clear();
  r.badParameters.clear();
  return store_->stopped() ? fmi2Error : status;
}

fmi2Status Instance::terminate() {
  if (phase_ != Phase::stepping) return unavailable("fmi2Terminate");
  store_->close();
  phase_ = Phase::terminated;
  return takeReports(store_->time()) == fmi2Error ? fmi2Error : fmi2OK;
}

fmi2Status Instance::reset() {
  store_.reset();  // the end of its simulation, if it was not over
  parameters_ = settings_.parameters;
  inputs_ = settings_.inputs;
  outputs_ = {};
  startHours_ = settings_.start;
  phase_ = Phase::instantiated;
  return fmi2OK;
}

fmi2Status Instance::getReal(const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
  if (phase_ == Phase::error) return unavailable("fmi2GetReal");
  for (size_t i = 0; i < nvr; ++i) {
    const unsigned r = vr[i];
    if (r == kTimeReference) {
      value[i] = seconds();
    } else if (r <= standin::kParameters) {
      value[i] = parameters_[r - 1];
    } else if (r > kInputBase && r <= kInputBase + standin::kInputs) {
      value[i] = inputs_[r - kInputBase - 1];
    } else if (r > kOutputBase && r <= kOutputBase + standin::kOutputs) {
      value[i] = outputs_[r - kOutputBase - 1];
    } else {
      return fail("fmi2GetReal: no variable has the value reference " + std::to_string(r));
    }
  }
  return fmi2OK;
}

fmi2Status Instance::setReal(const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
  if (phase_ == Phase::error || phase_ == Phase::terminated) return unavailable("fmi2SetReal");
  const bool started = phase_ == Phase::stepping;
  for (size_t i = 0; i < nvr; ++i) {
    const unsigned r = vr[i];
    std::string name;
    double* slot = nullptr;
    if (r >= 1 && r <= standin::kParameters) {
      name = parameterCatalog()[r - 1].name;
      if (started)
        return fail("fmi2SetReal: the parameter " + name + " is fixed after initialization");
      slot = &parameters_[r - 1];
    } else if (r > kInputBase && r <= kInputBase + standin::kInputs) {
      name = inputCatalog()[r - kInputBase - 1].name;
      slot = &inputs_[r - kInputBase - 1];
    } else if (r == kTimeReference || (r > kOutputBase && r <= kOutputBase + standin::kOutputs)) {
      return fail("fmi2SetReal: the value reference " + std::to_string(r) +
                  " is the time or an output, which the master cannot set");
    } else {
      return fail("fmi2SetReal: no variable has the value reference " + std::to_string(r));
    }
    if (!std::isfinite(value[i])) {
      return fail("fmi2SetReal: " + name + " takes a finite number, not " + numberText(value[i]));
    }
    *slot = value[i];
  }
  return fmi2OK;
}

fmi2Status Instance::lastSuccessfulTime(fmi2Real* value) const {
  *value = seconds();
  return fmi2OK;
}

fmi2Status Instance::terminated(fmi2Boolean* value) const {
  *value = fmi2False;  // the store never asks to end the simulation early
  return fmi2OK;
}

}  // namespace plugstore::fmu
