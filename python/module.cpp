// The compiled part of the Python module: a run described by keywords made
// by the run API with the interpreter's lock released, a strategy written in
// Python stepped by the model, and the optimum. The rest of the module (the
// result's arrays and tables, sweeps on executors, the errors) is Python, in
// drivanto/__init__.py.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/Version.h"
#include "model/Strategy.h"
#include "run/Runner.h"
#include "state/Variables.h"
#include "study/Optimum.h"

namespace py = pybind11;

namespace drivanto {
namespace {

// What a Python strategy raised, or a decision it returned that cannot be;
// ends the run (the module raises the Python error again).
struct StrategyFailed : std::exception {
  const char* what() const noexcept override { return "the Python strategy failed"; }
};

// The shared record of a Python strategy's failure: the run's copies of the
// strategy all write into it.
struct Failure {
  py::object error;    // the exception raised, or None
  std::string reason;  // a decision that cannot be, in words
};

// A strategy written in Python: decide(inputs, car) -> decision, and
// optionally state() / load_state(values), parameters(), name.
class PythonStrategy : public Strategy {
 public:
  PythonStrategy(py::object object, std::shared_ptr<Failure> failure)
      : object_(std::move(object)), failure_(std::move(failure)) {
    py::gil_scoped_acquire gil;
    const bool named = py::hasattr(object_, "name") && !object_.attr("name").is_none();
    name_ = py::str(named ? object_.attr("name") : object_.attr("__class__").attr("__name__"))
                .cast<std::string>();
  }
  ~PythonStrategy() override {
    py::gil_scoped_acquire gil;
    object_ = py::object();
  }

  std::string Name() const override { return name_; }

  std::vector<std::pair<std::string, double>> Parameters() const override {
    py::gil_scoped_acquire gil;
    std::vector<std::pair<std::string, double>> out;
    try {
      if (!py::hasattr(object_, "parameters")) return out;
      py::object p = object_.attr("parameters")();
      for (auto item : py::dict(p)) {
        out.emplace_back(py::str(item.first).cast<std::string>(), item.second.cast<double>());
      }
    } catch (py::error_already_set& e) {
      Fail(e);
    }
    return out;
  }

  StrategyDecision Decide(const StrategyInputs& in, CarQueries& car) override {
    py::gil_scoped_acquire gil;
    StrategyDecision d;
    try {
      py::object result = object_.attr("decide")(py::cast(in, py::return_value_policy::reference),
                                                 py::cast(&car, py::return_value_policy::reference));
      d = ToDecision(result, in.time);
    } catch (py::error_already_set& e) {
      Fail(e);
    } catch (py::cast_error& e) {
      failure_->reason = std::string("decide() returned what is no decision: ") + e.what();
      throw StrategyFailed();
    }
    return d;
  }

  std::unique_ptr<Strategy> Clone() const override {
    py::gil_scoped_acquire gil;
    py::object copy = py::module_::import("copy").attr("deepcopy")(object_);
    return std::make_unique<PythonStrategy>(copy, failure_);
  }

  std::vector<double> KeptState() const override {
    py::gil_scoped_acquire gil;
    std::vector<double> out;
    try {
      if (py::hasattr(object_, "state")) {
        for (auto x : object_.attr("state")()) out.push_back(x.cast<double>());
      }
    } catch (py::error_already_set& e) {
      Fail(e);
    }
    return out;
  }

  bool TakeKeptState(const std::vector<double>& kept) override {
    py::gil_scoped_acquire gil;
    try {
      if (py::hasattr(object_, "load_state")) {
        object_.attr("load_state")(kept);
        return true;
      }
    } catch (py::error_already_set& e) {
      Fail(e);
    }
    return kept.empty();
  }

 private:
  [[noreturn]] void Fail(py::error_already_set& e) const {
    failure_->error = e.value();
    throw StrategyFailed();
  }

  StrategyDecision ToDecision(const py::object& r, double time) const {
    StrategyDecision d;
    auto number = [&](const char* field, double x) {
      if (!std::isfinite(x)) {
        failure_->reason = std::string("decide() returned ") + (std::isnan(x) ? "NaN" : "infinity") +
                           " for " + field + " at time " + std::to_string(time) + " s";
        throw StrategyFailed();
      }
      return x;
    };
    if (r.is_none()) return d;
    if (py::isinstance<py::bool_>(r)) {
      failure_->reason = "decide() returned a bare bool: return a Decision";
      throw StrategyFailed();
    }
    d.engineOn = r.attr("engine_on").cast<bool>();
    d.power = number("power", r.attr("power").cast<double>());
    d.engineSpeed = number("speed", r.attr("speed").cast<double>());
    d.current = number("current", r.attr("current").cast<double>());
    return d;
  }

  py::object object_;
  std::shared_ptr<Failure> failure_;
  std::string name_;
};

// The arguments of a run, as the Python side hands them on.
RunSpec MakeSpec(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& settings,
                 const std::string& strategy,
                 const std::vector<std::pair<std::string, double>>& strategyParams,
                 const std::vector<std::string>& record, long long maxSteps,
                 const std::string& constants, const std::string& loadSnapshot,
                 const std::string& saveSnapshot, const std::string& trace) {
  RunSpec runSpec;
  runSpec.program = "drivanto";
  runSpec.folder = folder;
  runSpec.constants = constants;
  if (!loadSnapshot.empty()) runSpec.actions.push_back({RunSpec::Action::Load, loadSnapshot, ""});
  for (const auto& [name, value] : settings) runSpec.Set(name, value);
  runSpec.strategy = strategy;
  runSpec.strategyParams = strategyParams;
  runSpec.record = record;
  if (maxSteps >= 0) runSpec.maxSteps = maxSteps;
  runSpec.saveSnapshot = saveSnapshot;
  runSpec.trace = trace;
  return runSpec;
}

py::dict Run(const std::string& folder,
             const std::vector<std::pair<std::string, std::string>>& settings,
             const std::string& strategy,
             const std::vector<std::pair<std::string, double>>& strategyParams,
             py::object strategyObject, const std::vector<std::string>& record,
             long long maxSteps, const std::string& constants, const std::string& loadSnapshot,
             const std::string& saveSnapshot, const std::string& trace) {
  RunSpec runSpec = MakeSpec(folder, settings, strategy, strategyParams, record, maxSteps, constants,
                          loadSnapshot, saveSnapshot, trace);
  auto failure = std::make_shared<Failure>();
  failure->error = py::none();
  if (!strategyObject.is_none()) {
    runSpec.strategyObject = std::make_shared<PythonStrategy>(strategyObject, failure);
  }
  RunResult r;
  {
    py::gil_scoped_release free;
    r = Runner().Run(runSpec);
    runSpec.strategyObject.reset();
  }
  py::dict out;
  out["exit_code"] = r.exitCode;
  out["error"] = r.error;
  out["strategy_error"] = failure->error;
  out["strategy_reason"] = failure->reason;
  out["summary"] = r.began || r.exitCode == 0 ? r.SummaryText(true) : std::string();
  out["warnings"] = r.warnings;
  out["notices"] = r.notices;
  py::list names, units, columns;
  for (std::size_t k = 0; k < r.recordedNames.size(); ++k) {
    names.append(r.recordedNames[k]);
    const NamedField* f = FindField(r.recordedNames[k]);
    units.append(f ? std::string(f->unit) : std::string());
    const std::vector<double>& c = r.recorded[k];
    py::array_t<double> a(static_cast<py::ssize_t>(c.size()));
    std::copy(c.begin(), c.end(), a.mutable_data());
    columns.append(a);
  }
  out["names"] = names;
  out["units"] = units;
  out["columns"] = columns;
  return out;
}

py::dict Optimum(const std::string& folder,
                 const std::vector<std::pair<std::string, std::string>>& settings,
                 const std::string& constants, double step, int usedPoints, int powers,
                 double usedMin, double usedMax, bool limitsFromConstants, double maxPower,
                 bool fixedSpeed, double startCost, double noxWeight, int threads,
                 const std::string& schedule) {
  OptimumRequest request;
  request.run = MakeSpec(folder, settings, "", {}, {}, -1, constants, "", "", "");
  request.run.program = "drivanto";
  request.step = step;
  request.usedPoints = usedPoints;
  request.powers = powers;
  request.usedMin = usedMin;
  request.usedMax = usedMax;
  request.limitsFromConstants = limitsFromConstants;
  request.maxPower = maxPower;
  request.fixedSpeed = fixedSpeed;
  request.startCost = startCost;
  request.noxWeight = noxWeight;
  request.threads = threads;
  request.schedule = schedule;
  OptimumReport report;
  {
    py::gil_scoped_release free;
    report = RunOptimum(request);
  }
  py::dict out;
  out["exit_code"] = report.exitCode;
  out["error"] = report.error;
  out["json"] = report.exitCode == 0 ? report.Text(request, true) : std::string();
  return out;
}

}  // namespace
}  // namespace drivanto

PYBIND11_MODULE(_drivanto, m) {
  using namespace drivanto;
  m.doc() = "The compiled part of the drivanto module (use drivanto, not this).";
  m.attr("__version__") = kVersion;

  py::class_<StrategyInputs>(m, "StrategyInputs",
                             "What a strategy knows when it decides (read-only).")
      .def_readonly("time", &StrategyInputs::time, "s, the run's clock")
      .def_readonly("dt", &StrategyInputs::dt, "s, this step")
      .def_readonly("speed", &StrategyInputs::speed, "m/s")
      .def_readonly("requested_speed", &StrategyInputs::requestedSpeed, "m/s")
      .def_readonly("slope", &StrategyInputs::slope, "%")
      .def_readonly("used_capacity", &StrategyInputs::usedCapacity, "%")
      .def_readonly("voltage", &StrategyInputs::voltage, "V at the battery's terminals")
      .def_readonly("traction_power", &StrategyInputs::tractionPower, "W the motor asks")
      .def_readonly("aux_power", &StrategyInputs::auxPower, "W the auxiliaries take")
      .def_readonly("engine_speed", &StrategyInputs::engineSpeed, "rpm last step")
      .def_readonly("engine_torque", &StrategyInputs::engineTorque, "Nm last step")
      .def_readonly("fuel_flow", &StrategyInputs::fuelFlow, "l/s last step")
      .def_readonly("engine_was_on", &StrategyInputs::engineWasOn)
      .def_readonly("cycle_time", &StrategyInputs::cycleTime, "s, the time cycle's clock")
      .def(
          "rows_ahead",
          [](const StrategyInputs& in, int n) {
            return in.rowsAhead ? in.rowsAhead(n) : std::vector<std::pair<double, double>>();
          },
          py::arg("n"), "up to n rows ahead of a time cycle: (time s, speed m/s)");

  // A question with an answer or none (None outside a table).
  auto one = [](bool (CarQueries::*q)(double, double*)) {
    return [q](CarQueries& c, double a) -> py::object {
      double x = 0;
      return (c.*q)(a, &x) ? py::object(py::float_(x)) : py::object(py::none());
    };
  };
  auto two = [](bool (CarQueries::*q)(double, double, double*)) {
    return [q](CarQueries& c, double a, double b) -> py::object {
      double x = 0;
      return (c.*q)(a, b, &x) ? py::object(py::float_(x)) : py::object(py::none());
    };
  };
  py::class_<CarQueries>(m, "Car", "Questions on the car's tables; None where a table has none.")
      .def("max_torque", one(&CarQueries::MaxTorque), py::arg("rpm"), "Nm at most at this speed")
      .def("efficiency", two(&CarQueries::Efficiency), py::arg("rpm"), py::arg("torque"),
           "% at this point")
      .def("fuel_flow", two(&CarQueries::FuelFlow), py::arg("rpm"), py::arg("torque"),
           "l/s at this point")
      .def("torque_for", &CarQueries::TorqueFor, py::arg("power"), py::arg("rpm"),
           "Nm that charges this electric power (W) at this speed")
      .def("speed_range", &CarQueries::SpeedRange, "rpm, lowest and highest of the engine's table")
      .def("best_speed", [](CarQueries& c, double power) { return BestSpeed(power, c); },
           py::arg("power"), "rpm of best efficiency for this power; 0 where none")
      .def_property_readonly("generator_speed", &CarQueries::GeneratorSpeed);

  m.def("run", &Run);
  m.def("optimum", &Optimum);
}
