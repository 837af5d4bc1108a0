// The Python extension `plugstore._plugstore`: stores stepped in this
// process, the catalog of names, scenarios read by the runner's own code and
// whole runs by the runner's own loop. The package `plugstore` wraps it into
// the API users see (names, DataFrames, exceptions, sweeps).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/catalog.h"
#include "plugstore/checks.h"
#include "plugstore/defaults.h"
#include "plugstore/initial_profile.h"
#include "plugstore/intervals.h"
#include "plugstore/names.h"
#include "plugstore/output_paths.h"
#include "plugstore/run.h"
#include "plugstore/scenario.h"
#include "plugstore/summary_json.h"
#include "plugstore/toml_depth.h"
#include "standin/in_process.h"
#include "stepped_store.h"

namespace py = pybind11;
using plugstore::python::SteppedStore;
using plugstore::runner::Scenario;

namespace {

template <std::size_t N>
py::array_t<double> toArray(const std::array<double, N>& values) {
  py::array_t<double> a(static_cast<py::ssize_t>(N));
  std::copy(values.begin(), values.end(), a.mutable_data());
  return a;
}

template <std::size_t N>
std::array<double, N> fromArray(
    const py::array_t<double, py::array::c_style | py::array::forcecast>& a, const char* what) {
  if (a.ndim() != 1 || a.shape(0) != static_cast<py::ssize_t>(N)) {
    throw py::value_error(std::string(what) + " takes " + std::to_string(N) + " values, got " +
                          std::to_string(a.size()));
  }
  std::array<double, N> values{};
  std::copy(a.data(), a.data() + N, values.begin());
  return values;
}

// (number, name, unit, description) of every entry of a table.
py::list catalog(std::span<const plugstore::CatalogEntry> table) {
  py::list out;
  for (const plugstore::CatalogEntry& e : table) {
    out.append(py::make_tuple(e.number, std::string(e.name), std::string(e.unit),
                              std::string(e.description)));
  }
  return out;
}

// What the component reported since the last look, as (severity, text)
// messages and (number, severity, text) rejected parameters; the record is
// emptied.
py::tuple takeRecord(standin::UnitRecord& r) {
  py::list messages;
  for (const standin::Message& m : r.messages) messages.append(py::make_tuple(m.severity, m.text));
  py::list bad;
  for (const standin::BadParameter& b : r.badParameters) {
    bad.append(py::make_tuple(b.number, b.severity, b.text));
  }
  r.messages.clear();
  r.badParameters.clear();
  return py::make_tuple(messages, bad);
}

// The values, handed to numpy without a copy: the array owns them.
py::array_t<double> handOver(std::vector<double>&& values, std::vector<py::ssize_t> shape) {
  auto* owned = new std::vector<double>(std::move(values));
  py::capsule release(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
  return py::array_t<double>(std::move(shape), owned->data(), release);
}

// Column names of the CSV the runner writes for a scenario, time left out.
std::vector<std::string> columnNames(const Scenario& s) {
  std::vector<std::string> names;
  const std::string header = plugstore::runner::csvHeader(s);
  std::size_t start = header.find(',');
  while (start != std::string::npos) {
    const std::size_t end = header.find_first_of(",\n", start + 1);
    names.push_back(header.substr(start + 1, end - start - 1));
    start = header[end] == ',' ? end : std::string::npos;
  }
  return names;
}

// A whole run by the runner's own loop with stores in this process: the
// rows (times, values of the columns at `keep`, or of all) and the summary
// as `plugstore run --summary` writes it; no rows are kept for an empty
// `keep`. Ctrl-C in the main thread ends the run after the step under way,
// and so does a `timeout` (s, 0 for none): then the run is stopped as by
// SIGALRM, the alarm of a time limit.
py::tuple runScenario(const Scenario& s, bool allowWarnings,
                      std::optional<std::vector<std::size_t>> keep, double timeout) {
  namespace r = plugstore::runner;
  std::vector<double> times;
  std::vector<double> values;
  const std::size_t all = columnNames(s).size();
  if (!keep) {
    keep.emplace(all);
    for (std::size_t i = 0; i < all; ++i) (*keep)[i] = i;
  }
  for (std::size_t i : *keep) {
    if (i >= all) throw py::index_error("no column " + std::to_string(i));
  }
  r::RunOptions options;
  options.progress = false;
  options.unit = [](const Scenario& u) {
    return std::make_unique<standin::InProcessUnit>(u.label1);
  };
  if (!keep->empty()) {
    // The rows a whole run gives, so that the arrays grow in place: growth
    // by doubling would hold up to twice the frame, and a copy once more.
    const int perRow = s.interval > 0.0 ? static_cast<int>(std::lround(s.interval / s.step)) : 1;
    const auto rows = static_cast<std::size_t>((s.steps() + perRow - 1) / std::max(perRow, 1) + 1);
    times.reserve(rows);
    values.reserve(rows * keep->size());
    options.rows = [&](double time, std::span<const double> row) {
      times.push_back(time);
      for (std::size_t i : *keep) values.push_back(row[i]);
    };
  }
  int asked = 0;
  bool interrupted = false;
  const auto began = std::chrono::steady_clock::now();
  options.stopSignal = [&asked, &interrupted, began, timeout]() {
    if (++asked % 1024 != 0) return 0;
    if (timeout > 0.0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() > timeout) {
      return SIGALRM;
    }
    py::gil_scoped_acquire held;
    interrupted = PyErr_CheckSignals() != 0;
    return interrupted ? SIGINT : 0;
  };
  r::RunReport report;
  {
    py::gil_scoped_release free;
    report = r::runScenario(s, options);
  }
  if (interrupted) throw py::error_already_set();
  const std::string summary = r::summaryJson(s, report, r::judge(report, allowWarnings));
  const auto n = static_cast<py::ssize_t>(times.size());
  py::array_t<double> v = handOver(std::move(values), {n, static_cast<py::ssize_t>(keep->size())});
  return py::make_tuple(handOver(std::move(times), {n}), v, summary);
}

using Parameters = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::list problemList(const std::vector<plugstore::runner::Problem>& problems) {
  py::list out;
  for (const auto& p : problems) out.append(py::make_tuple(p.number, p.message));
  return out;
}

// The runner's checks of inputs for a stepped store: every input is given,
// as a constant of the step.
py::list inputProblems(const Parameters& par, const Parameters& xin) {
  namespace r = plugstore::runner;
  const auto p = fromArray<standin::kParameters>(par, "parameters");
  const auto x = fromArray<standin::kInputs>(xin, "inputs");
  std::array<r::InputSource, standin::kInputs> inputs{};
  for (std::size_t i = 0; i < x.size(); ++i) {
    inputs[i].constant = x[i];
    inputs[i].origin = "constant";
  }
  return problemList(r::inputProblems(p, inputs));
}

// Why the time grid or unit of a stepped store is refused, one text each.
std::vector<std::string> gridProblems(double start, double step, double iterations, double unit) {
  namespace r = plugstore::runner;
  std::vector<std::string> found;
  for (std::string why :
       {r::stepProblem(step), r::iterationsProblem(iterations), r::unitProblem(unit),
        r::stepProblem(step).empty() ? r::startProblem(start, step) : std::string()}) {
    if (!why.empty()) found.push_back(std::move(why));
  }
  return found;
}

}  // namespace

PYBIND11_MODULE(_plugstore, m) {
  m.doc() = "The plug-flow store component, run in this process";

  m.def("parameter_catalog", [] { return catalog(plugstore::parameterCatalog()); });
  m.def("input_catalog", [] { return catalog(plugstore::inputCatalog()); });
  m.def("output_catalog", [] { return catalog(plugstore::outputCatalog()); });
  m.def("default_parameters", [] { return toArray(plugstore::runner::defaultParameters()); });
  m.def("default_inputs", [] { return toArray(plugstore::runner::defaultInputs()); });
  m.def("parameter_problems", [](const Parameters& par) {
    return problemList(
        plugstore::runner::parameterProblems(fromArray<standin::kParameters>(par, "parameters")));
  });
  m.def("parameter_notes", [](const Parameters& par) {
    return problemList(
        plugstore::runner::parameterNotes(fromArray<standin::kParameters>(par, "parameters")));
  });
  m.def("input_problems", &inputProblems, py::arg("parameters"), py::arg("inputs"));
  m.def("grid_problems", &gridProblems, py::arg("start"), py::arg("step"), py::arg("iterations"),
        py::arg("unit"));
  // Where a TOML text nests too deep to be parsed: (line, column, message), or None.
  m.def("toml_depth_fault", [](const std::string& text) -> py::object {
    const plugstore::runner::TomlDepthFault f = plugstore::runner::tomlDepthFault(text);
    if (f.line == 0) return py::none();
    return py::make_tuple(f.line, f.column, f.message);
  });
  m.def("unknown_name_message", [](const std::string& kind, const std::string& name) {
    return plugstore::runner::unknownNameMessage(kind, name);
  });

  py::class_<SteppedStore>(m, "SteppedStore")
      .def(py::init([](const py::array_t<double, py::array::c_style | py::array::forcecast>& par,
                       double start, double step, int iterations, int unit, std::string label1) {
             const auto p = fromArray<standin::kParameters>(par, "parameters");
             py::gil_scoped_release free;
             return std::make_unique<SteppedStore>(p, start, step, iterations, unit,
                                                   std::move(label1));
           }),
           py::arg("parameters"), py::arg("start"), py::arg("step"), py::arg("iterations"),
           py::arg("unit"), py::arg("label1"))
      .def(
          "step",
          [](SteppedStore& s,
             const py::array_t<double, py::array::c_style | py::array::forcecast>& xin, double dt) {
            const auto inputs = fromArray<standin::kInputs>(xin, "inputs");
            py::gil_scoped_release free;  // other threads run their stores meanwhile
            return s.step(inputs, dt);
          },
          py::arg("inputs"), py::arg("dt"))
      .def("close",
           [](SteppedStore& s) {
             py::gil_scoped_release free;
             s.close();
           })
      .def("take_record", [](SteppedStore& s) { return takeRecord(s.record()); })
      .def_property_readonly("outputs", [](const SteppedStore& s) { return toArray(s.outputs()); })
      .def_property_readonly("time", &SteppedStore::time)
      .def_property_readonly("steps", &SteppedStore::steps)
      .def_property_readonly("start", &SteppedStore::start)
      .def_property_readonly("step_length", &SteppedStore::stepLength)
      .def_property_readonly("stopped", &SteppedStore::stopped)
      .def_property_readonly("closed", &SteppedStore::closed);

  // Faults of a scenario, one "file:line:column: message" line each.
  py::register_exception<plugstore::runner::ScenarioError>(m, "ScenarioError", PyExc_ValueError);

  py::class_<Scenario, std::shared_ptr<Scenario>>(m, "Scenario", py::dynamic_attr())
      .def_property_readonly("file", [](const Scenario& s) { return s.file.string(); })
      .def_readonly("title", &Scenario::title)
      .def_readonly("description", &Scenario::description)
      .def_readonly("start", &Scenario::start)
      .def_readonly("stop", &Scenario::stop)
      .def_readonly("step", &Scenario::step)
      .def_readonly("iterations", &Scenario::iterations)
      .def_readonly("unit", &Scenario::unit)
      .def_readonly("label1", &Scenario::label1)
      .def_property_readonly("steps", &Scenario::steps)
      .def_property_readonly("unit_names",
                             [](const Scenario& s) {
                               std::vector<std::string> names;
                               for (const Scenario& u : s.units) names.push_back(u.name);
                               return names;
                             })
      .def_property_readonly("parameters", [](const Scenario& s) { return toArray(s.parameters); })
      .def_property_readonly("columns", &columnNames)
      .def_property_readonly("input_files",
                             [](const Scenario& s) {
                               std::vector<std::string> files;
                               for (const auto& f : plugstore::runner::filesRead(s)) {
                                 files.push_back(f.path.string());
                               }
                               return files;
                             })
      .def_property_readonly(
          "drives_inputs",
          [](const Scenario& s) { return !s.controllers.empty() || s.tapping.port != 0; })
      .def(
          "inputs_over",
          [](const Scenario& s, double a, double b) {
            std::array<double, standin::kInputs> x{};
            for (std::size_t i = 0; i < x.size(); ++i) x[i] = s.inputs[i].over(a, b);
            return toArray(x);
          },
          py::arg("a"), py::arg("b"))
      .def("write_start_profile", [](const Scenario& s) {
        if (s.initialProfile.empty()) return std::string();
        namespace r = plugstore::runner;
        return r::writeStartProfile(
                   s.label1, r::startProfileText(r::profilePlugs(s.initialProfile, s.parameters)))
            .string();
      });

  m.def("run", &runScenario, py::arg("scenario"), py::arg("allow_warnings") = false,
        py::arg("keep") = py::none(), py::arg("timeout") = 0.0);
  m.def(
      "load",
      [](const std::string& path, const std::vector<std::string>& defines, bool checks) {
        return std::make_shared<Scenario>(plugstore::runner::loadScenario(path, checks, defines));
      },
      py::arg("path"), py::arg("defines") = std::vector<std::string>{}, py::arg("checks") = true);
}
