#include "run/Recorder.h"

#include <variant>

#include "base/Errors.h"
#include "base/Text.h"

namespace drivanto {

namespace {

// The numeric value of a scalar field, or false for one that is not a number.
struct NumberOf {
  const State& s;
  double* out;
  bool operator()(double State::*p) const { return *out = s.*p, true; }
  bool operator()(int32_t State::*p) const { return *out = s.*p, true; }
  bool operator()(uint8_t State::*p) const { return *out = s.*p, true; }
  bool operator()(uint16_t State::*p) const { return *out = s.*p, true; }
  template <typename Other>
  bool operator()(Other) const {
    return false;
  }
};

}  // namespace

bool RecordableVariable(const std::string& name) {
  const NamedField* f = FindField(name);
  if (!f) return false;
  State probe;
  double v = 0;
  return std::visit(NumberOf{probe, &v}, f->field);
}

Recorder::Recorder(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (!RecordableVariable(name)) {
      throw UsageError("\"" + Printable(name) +
                                  "\" is not a variable that can be recorded (a number of the "
                                  "state, not a text, a letter or a table)");
    }
    fields_.push_back(FindField(name)->field);
  }
  columns_.resize(fields_.size());
}

void Recorder::AfterStep(const Sim& sim, int64_t) {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    double v = 0;
    std::visit(NumberOf{sim.s, &v}, fields_[i]);
    columns_[i].push_back(v);
  }
}

}  // namespace drivanto
