#include "run/SettingText.h"

#include <cmath>

#include "base/NumberText.h"
#include "base/Text.h"
#include "data/Constants.h"
#include "run/Tick.h"
#include "run/RunControl.h"
#include "state/Variables.h"

namespace drivanto {

namespace {

// The one letter of a text, upper-cased; 0 when the text is not one letter.
char OneLetter(const std::string& value) {
  if (value.size() != 1) return 0;
  return UpperAscii(value[0]);
}

}  // namespace

namespace {

const StrategyInfo* StrategyNamed(const std::string& name) {
  for (const StrategyInfo& s : BuiltInStrategies()) {
    if (name == s.name) return &s;
  }
  return nullptr;
}

std::string CheckStrategyChoice(const std::string& name, const std::string& value) {
  if (name == "strategy") {
    if (StrategyNamed(value) || (value.rfind("schedule=", 0) == 0 && value.size() > 9)) return "";
    std::string names;
    for (const StrategyInfo& s : BuiltInStrategies()) names += std::string(" ") + s.name;
    return "strategy=" + Printable(value) + ": one of" + names;
  }
  const std::size_t dot = name.find('.');
  const StrategyInfo* s = StrategyNamed(name.substr(0, dot));
  bool known = false;
  for (const auto& [parameter, meaning] : s->parameters) known = known || name.substr(dot + 1) == parameter;
  if (!known) return "the strategy " + std::string(s->name) + " has no parameter \"" + Printable(name.substr(dot + 1)) + "\"";
  bool complete = false;
  const double x = ParseNumberEitherSeparator(value, &complete);
  if (!complete || !std::isfinite(x)) return name + "=" + Printable(value) + ": a number";
  return "";
}

}  // namespace

bool IsStrategyChoice(const std::string& name) {
  if (name == "strategy") return true;
  const std::size_t dot = name.find('.');
  return dot != std::string::npos && StrategyNamed(name.substr(0, dot)) != nullptr;
}

std::string CheckSetting(const std::string& name, const std::string& value) {
  if (IsStrategyChoice(name)) return CheckStrategyChoice(name, value);
  const NamedField* f = FindField(name);
  if (!f) return "unknown variable \"" + Printable(name) + "\"";
  State probe;
  std::string why;
  if (!SetFieldFromText(probe, f->field, value, &why)) {
    return name + "=" + Printable(value) + ": " + why;
  }
  // Values the variable holds but the model cannot run with.
  if (name == "cycleType") {
    const char c = OneLetter(value);
    if (c != 'T' && c != 'K') {
      return "cycleType=" + Printable(value) + ": T (a time cycle) or K (a map cycle)";
    }
  } else if (name == "timeMode") {
    const char c = value.empty() ? ' ' : OneLetter(value);
    if (c != 'D' && c != 'R' && c != ' ') {
      return "timeMode=" + Printable(value) +
             ": D (the fixed step dt), R (real time) or a blank (the cycle's own step)";
    }
  } else if (name == "dt") {
    bool complete = false;
    const double dt = ParseNumberEitherSeparator(value, &complete);
    if (!(dt > 0) || !std::isfinite(dt)) {
      return "dt=" + Printable(value) + ": a time step in seconds above 0";
    }
  }
  return {};
}

void ApplySetting(Sim& sim, const std::string& name, const std::string& value) {
  State& s = sim.s;
  const Field& field = FindField(name)->field;
  SetFieldFromText(s, field, value, nullptr);
  for (const ConstLine& c : ConstantLines()) {
    if (c.kind == ConstKind::Empty || !(c.field == field)) continue;
    if (c.kind == ConstKind::LetterUpper) {
      char& ch = s.*std::get<char State::*>(field);
      ch = UpperAscii(ch);
    }
    if (c.kind == ConstKind::CycleType) s.cycleType = (UpperAscii(s.cycleType) == 'T') ? 'T' : 'K';
    if (c.line <= 34) {
      RereadSettings(sim);
      ComposeTitle(s);
    }
  }
}

}  // namespace drivanto
