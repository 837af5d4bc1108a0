// The checks of a whole store once every section is read: parameters,
// inputs, the start profile and the tapping list against the inputs.
#include <algorithm>

#include "plugstore/checks.h"
#include "plugstore/names.h"
#include "plugstore/scenario_reader.h"

namespace plugstore::runner::reading {

void Parser::check(Scenario& s) {
  std::vector<Diagnostic> found;
  const std::vector<Problem> parameterFaults = parameterProblems(s.parameters);
  for (const Problem& p : parameterFaults) {
    const Place& where = s.parameterPlace[static_cast<std::size_t>(p.number - 1)];
    const bool byDefault = where.line == 0 && where.file == file_;
    found.push_back({where, p.message + (byDefault ? " (the default value)" : "")});
  }
  const std::array<InputSource, kNumInputs> inputs = inputsWithControl(s);
  for (const Problem& p : inputProblems(s.parameters, inputs)) {
    found.push_back({inputs[static_cast<std::size_t>(p.number - 1)].place, p.message});
  }
  const std::size_t profile = static_cast<std::size_t>(parameterNumber("store.startProfile") - 1);
  if (s.parameters[profile] == 1.0 && s.initialProfile.empty()) {
    std::error_code ec;
    const fs::path ini = fs::path(s.label1) / "startProfile.ini";
    if (!fs::is_regular_file(ini, ec)) {
      found.push_back({s.parameterPlace[profile],
                       "store.startProfile is 1 but " + ini.string() +
                           (otherThanAFile(ini) ? " is not a regular file" : " does not exist")});
    }
  }
  if (!s.initialProfile.empty() && parameterFaults.empty()) {
    const std::size_t plugs = profilePlugs(s.initialProfile, s.parameters).size();
    const auto most = std::min<std::size_t>(
        static_cast<std::size_t>(
            s.parameters[static_cast<std::size_t>(parameterNumber("store.maxPlugs") - 1)]),
        static_cast<std::size_t>(kTopSentinel - 1));
    if (plugs > most) {
      found.push_back({s.initialProfilePlace,
                       "store.initialProfile needs " + std::to_string(plugs) +
                           " plugs (one layer per step, cut to the height of a plug), more than "
                           "store.maxPlugs allows (" +
                           std::to_string(most) + ")"});
    }
  }
  // Fluids far from water: refused unless allowed, then said.
  const std::vector<Problem> unusual = unusualFluids(s.parameters);
  for (const Problem& p : unusual) {
    const Place& where = s.parameterPlace[static_cast<std::size_t>(p.number - 1)];
    if (allowUnusual_) {
      s.notes.push_back({where, "note: " + p.message});
    } else {
      found.push_back({where, p.message + " (--allow-unusual runs it)"});
    }
  }
  for (const Problem& p : parameterNotes(s.parameters)) {
    const bool said = std::any_of(unusual.begin(), unusual.end(),
                                  [&p](const Problem& u) { return u.number == p.number; });
    if (said) continue;
    s.notes.push_back(
        {s.parameterPlace[static_cast<std::size_t>(p.number - 1)], "note: " + p.message});
  }
  checkControl(s, found);
  checkLoads(s);
  // Hot water is drawn at B: below the cold inlet it is the store's coldest.
  if (s.tapping.port > 0) {
    auto height = [&s](const char* field) {
      return s.parameters[static_cast<std::size_t>(
          parameterNumber(indexed("port", s.tapping.port, field)) - 1)];
    };
    if (height(".heightB") < height(".heightA")) {
      s.notes.push_back(
          {s.tapping.place, "note: the tapping list draws its hot water through port " +
                                std::to_string(s.tapping.port) + " at height " +
                                formatNumber(height(".heightB")) +
                                " (connection B), below the mains water let in at " +
                                formatNumber(height(".heightA")) + " (A)"});
    }
  }
  for (const Diagnostic& d : found) record(d, d.place);
}

void Parser::checkControl(const Scenario& s, std::vector<Diagnostic>& found) const {
  const TappingSpec& tp = s.tapping;
  if (tp.port == 0) return;
  const std::string flow = indexed("port", tp.port, ".massFlow");
  const std::string mains = indexed("port", tp.port, ".temperatureA");
  const InputSource& given = s.inputs[static_cast<std::size_t>(inputNumber(flow) - 1)];
  if (given.given()) {
    found.push_back({given.place, flow + " is set by the tapping list: leave it out"});
  }
  for (const ControllerSetup& c : s.controllers) {
    if (inputEntry(c.input).name == flow) {
      found.push_back(
          {c.place, "controller " + c.name + ": " + flow + " is set by the tapping list"});
    }
  }
  const InputSource& cold = s.inputs[static_cast<std::size_t>(inputNumber(mains) - 1)];
  const double warmest = cold.schedule ? cold.schedule->maxValue() : cold.constant;
  if (cold.given() && !(warmest < tp.delivery)) {
    found.push_back({cold.place, mains + ", the mains water of the tapping list, reaches " +
                                     formatNumber(warmest) +
                                     " degC: it must stay below the delivery temperature (" +
                                     formatNumber(tp.delivery) + " degC)"});
  }
}

}  // namespace plugstore::runner::reading
