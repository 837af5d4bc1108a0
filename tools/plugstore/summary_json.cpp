#include "plugstore/summary_json.h"

#include <toml++/toml.h>

#include <sstream>

#include "plugstore/figures.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

// Messages, bad parameters, energy account, control and totals of one store.
toml::table storeJson(const Scenario& s, const RunReport& r) {
  toml::table own;
  toml::array messages;
  for (const MessageCount& m : r.messages) {
    messages.push_back(toml::table{{"severity", m.severity},
                                   {"text", m.text},
                                   {"count", m.count},
                                   {"first", m.first},
                                   {"last", m.last}});
  }
  own.insert("messages", std::move(messages));

  toml::array bad;
  for (const BadParameterReport& b : r.badParameters) {
    const bool known = b.number >= 1 && b.number <= kNumParameters;
    bad.push_back(toml::table{{"number", b.number},
                              {"name", known ? parameterEntry(b.number).name : "?"},
                              {"severity", b.severity},
                              {"text", b.text}});
  }
  own.insert("badParameters", std::move(bad));

  const EnergyAccount& a = r.account;
  toml::array flows;
  for (const Flow& f : a.flows) {
    flows.push_back(toml::table{
        {"key", f.key}, {"label", f.label}, {"in", f.in}, {"out", f.out}, {"net", f.net()}});
  }
  toml::table account{{"flows", std::move(flows)},
                      {"heatIntoPlugs", a.heatIntoPlugs},
                      {"losses", a.losses},
                      {"storedChange", a.storedChange},
                      {"unexplained", a.residual()},
                      {"closes", a.closes()},
                      {"largestBalance", a.maxAbsBalance},
                      {"largestBalanceTime", a.maxAbsBalanceTime}};
  if (a.limitedSteps > 0) account.insert("temperatureLimit", a.limitHeat);
  own.insert("account", std::move(account));
  own.insert("csvRows", r.csvRows);
  own.insert("totalsRows", r.totalsRows);

  toml::array controllers;
  for (std::size_t i = 0; i < s.controllers.size() && i < r.controllers.size(); ++i) {
    controllers.push_back(toml::table{{"name", s.controllers[i].name},
                                      {"switchedOn", r.controllers[i].switchedOn},
                                      {"onHours", r.controllers[i].onHours}});
  }
  own.insert("controllers", std::move(controllers));
  if (s.tapping.port > 0) {
    const TappingFigures& t = r.tapping;
    own.insert("tapping", toml::table{{"asked", t.asked},
                                      {"useful", t.useful},
                                      {"short", t.shortfall},
                                      {"hotWaterDrawn", t.drawn}});
  }
  if (!r.collectors.empty()) {
    toml::array collectors;
    for (const CollectorFigures& c : r.collectors) {
      collectors.push_back(toml::table{{"name", c.name},
                                       {"area", c.area},
                                       {"yield", c.yield},
                                       {"yieldPerArea", c.perArea()},
                                       {"delivered", c.delivered},
                                       {"pipeLoss", c.pipeLoss},
                                       {"loopDelay", c.lag()},
                                       {"pumpHours", c.pumpHours},
                                       {"stagnationHours", c.stagnationHours},
                                       {"maxTemperature", c.maxTemperature}});
    }
    own.insert("collectors", std::move(collectors));
  }
  if (!r.loads.empty()) {
    toml::array loads;
    for (const LoadFigures& l : r.loads) {
      loads.push_back(toml::table{{"name", l.name},
                                  {"port", l.port},
                                  {"asked", l.asked},
                                  {"delivered", l.delivered},
                                  {"short", l.shortfall},
                                  {"hoursShort", l.hoursShort},
                                  {"maxShort", l.maxShort},
                                  {"portOut", l.portOut}});
    }
    own.insert("loads", std::move(loads));
  }
  const ReportFigures f = reportFigures(s, a, runDemand(r.tapping, r.loads));
  const auto list = figureList(s, f);
  if (!list.empty()) {
    toml::table figures{{"solar", f.solar}, {"auxiliary", f.auxiliary}, {"drawn", f.drawn}};
    for (const auto& [name, v] : list) {
      if (v) figures.insert(name, *v);
    }
    own.insert("figures", std::move(figures));
  }

  return own;
}

// How linked units settled and what each loop between them passed.
toml::table linksJson(const Scenario& s, const RunReport& r) {
  const standin::Convergence& c = r.result.convergence;
  toml::table links{{"mode", s.laggedLinks ? "lagged" : "converged"},
                    {"tolerance", s.tolerance},
                    {"maxIterations", s.maxIterations},
                    {"iterations", static_cast<int64_t>(c.iterations)},
                    {"mostIterations", c.mostIterations},
                    {"unsettledSteps", c.unsettledSteps},
                    {"unsettled", r.unsettled}};
  toml::array loops;
  for (const PortLink& raw : r.links) {
    const PortLink l = oriented(raw);
    loops.push_back(toml::table{{"from", portName(s, l.unitA, l.portA)},
                                {"to", portName(s, l.unitB, l.portB)},
                                {"left", l.left},
                                {"entered", l.entered},
                                {"difference", l.difference()},
                                {"closes", l.closes()},
                                {"largestStepShare", l.worstStep},
                                {"largestStepShareTime", l.worstStepTime}});
  }
  links.insert("loops", std::move(loops));
  return links;
}

}  // namespace

std::string summaryJson(const Scenario& s, const RunReport& r, const Verdict& verdict) {
  toml::table run{{"scenario", s.file.string()},
                  {"runId", r.runId},
                  {"title", s.title},
                  {"start", s.start},
                  {"stop", s.stop},
                  {"step", s.step},
                  {"iterations", s.iterations},
                  {"stepsPlanned", s.steps()},
                  {"stepsDone", r.result.steps},
                  {"lastTime", r.lastTime},
                  {"wallTime", r.wallSeconds},
                  {"exitStatus", verdict.status},
                  {"verdict", verdict.reason},
                  {"fatal", r.result.fatal},
                  {"warnings", r.warnings()}};

  if (s.units.empty()) {
    for (auto&& [key, value] : storeJson(s, r)) run.insert(key, value);
  } else {
    toml::array stores;
    for (std::size_t i = 0; i < s.units.size() && i < r.units.size(); ++i) {
      toml::table store{{"name", s.units[i].name}, {"unit", s.units[i].unit}};
      for (auto&& [key, value] : storeJson(s.units[i], r.units[i])) store.insert(key, value);
      stores.push_back(std::move(store));
    }
    run.insert("stores", std::move(stores));
    run.insert("csvRows", r.csvRows);
    if (hasLinks(s)) run.insert("links", linksJson(s, r));
  }
  run.insert("units", toml::table{{"start", "h"},
                                  {"stop", "h"},
                                  {"step", "h"},
                                  {"lastTime", "h"},
                                  {"wallTime", "s"},
                                  {"messages.first", "h"},
                                  {"messages.last", "h"},
                                  {"account", "kWh, into the store positive"},
                                  {"account.largestBalance", "kW"},
                                  {"account.largestBalanceTime", "h"},
                                  {"controllers.onHours", "h"},
                                  {"tapping", "kWh above the mains water"},
                                  {"tapping.hotWaterDrawn", "kg"},
                                  {"collectors", "kWh, h, degC, m2"},
                                  {"loads", "kWh"},
                                  {"loads.hoursShort", "h"}});
  if (run.contains("links")) {
    toml::table& units = *run["units"].as_table();
    units.insert("links.loops", "kWh; largestStepShare: of the step's heat");
    units.insert("links.loops.largestStepShareTime", "h");
  }
  std::ostringstream o;
  o << toml::json_formatter{run} << "\n";
  return o.str();
}

}  // namespace plugstore::runner
