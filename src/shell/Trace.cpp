#include "shell/Trace.h"

#include <charconv>
#include <map>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/Text.h"

namespace drivanto {

namespace {

const std::map<std::string, std::string>& Units() {
  static const std::map<std::string, std::string> units = {
      {"ttot", "s"},
      {"dt", "s"},
      {"cycleTime", "s"},
      {"ltot", "m"},
      {"mapPos", "m"},
      {"height", "m"},
      {"v", "m_per_s"},
      {"vb", "m_per_s"},
      {"vCycle", "m_per_s"},
      {"vPrev", "m_per_s"},
      {"slope", "pct"},
      {"U", "V"},
      {"Iaba", "A"},
      {"Ila", "A"},
      {"regenCurrent", "A"},
      {"motorCurrent", "A"},
      {"totalCurrent", "A"},
      {"usedCapacity", "pct"},
      {"nel", "rpm"},
      {"mel", "Nm"},
      {"nic", "rpm"},
      {"mic", "Nm"},
      {"fuelFlow", "l_per_s"},
      {"fuelLeft", "l"},
      {"CO", "g"},
      {"NOx", "g"},
      {"HC", "g"},
      {"brakeForce", "N"},
      {"resistForce", "N"},
      {"motorPower", "W"},
      {"auxPower", "W"},
      {"elmEff", "pct"},
      {"icEff", "pct"},
      {"icMaxTorque", "Nm"},
      {"netEnergy", "kWh"},
      {"driveEnergy", "kWh"},
      {"vehicleMass", "kg"},
      {"batCapacity", "Ah"},
      {"tankVolume", "l"},
      {"Energi", "Ws"},
  };
  return units;
}

bool IsScalar(const Field& f) {
  return std::visit(
      [](auto m) {
        using M = decltype(m);
        return std::is_same_v<M, double State::*> || std::is_same_v<M, int32_t State::*> ||
               std::is_same_v<M, uint8_t State::*> || std::is_same_v<M, uint16_t State::*> ||
               std::is_same_v<M, char State::*> || std::is_same_v<M, std::string State::*> ||
               std::is_same_v<M, String4 State::*>;
      },
      f);
}

// A CSV cell of text: quoted where it holds a comma, a quote or a blank end.
void AppendText(std::string& out, const std::string& text) {
  const bool quote = text.empty() || text.find_first_of(",\"\r\n") != std::string::npos ||
                     text.front() == ' ' || text.back() == ' ';
  if (!quote) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

struct CellWriter {
  std::string& out;
  const State& s;
  void operator()(double State::*m) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, s.*m);
    out.append(buf, r.ptr);
  }
  void operator()(int32_t State::*m) { out += std::to_string(s.*m); }
  void operator()(uint8_t State::*m) { out += std::to_string(s.*m); }
  void operator()(uint16_t State::*m) { out += std::to_string(s.*m); }
  void operator()(char State::*m) { AppendText(out, CharToUtf8(s.*m)); }
  void operator()(std::string State::*m) { AppendText(out, s.*m); }
  void operator()(String4 State::*m) { AppendText(out, Cp1252ToUtf8((s.*m).Text())); }
  template <typename T, std::size_t N>
  void operator()(std::array<T, N> State::*) {}
};

}  // namespace

const std::vector<std::string>& DefaultTraceVariables() {
  static const std::vector<std::string> names = {"ttot",
                                                 "ltot",
                                                 "v",
                                                 "vb",
                                                 "vCycle",
                                                 "slope",
                                                 "U",
                                                 "Iaba",
                                                 "Ila",
                                                 "regenCurrent",
                                                 "motorCurrent",
                                                 "usedCapacity",
                                                 "nel",
                                                 "mel",
                                                 "nic",
                                                 "mic",
                                                 "fuelFlow",
                                                 "chargeState",
                                                 "fuelLeft",
                                                 "CO",
                                                 "NOx",
                                                 "HC"};
  return names;
}

std::string TraceUnit(const std::string& name) {
  auto it = Units().find(name);
  return it == Units().end() ? std::string() : it->second;
}

std::string UnknownTraceVariable(const std::vector<std::string>& names) {
  for (const std::string& n : names) {
    const NamedField* f = FindField(n);
    if (!f || !IsScalar(f->field)) return n;
  }
  return {};
}

void TraceWriter::Open(const std::string& fileName, const std::vector<std::string>& names,
                       long every) {
  every_ = every < 1 ? 1 : every;
  fields_.clear();
  std::string header;
  for (const std::string& n : names) {
    fields_.push_back(FindField(n)->field);
    if (!header.empty()) header += ',';
    const std::string unit = TraceUnit(n);
    header += unit.empty() ? n : n + "_" + unit;
  }
  file_.buffered = true;
  file_.lineEnd = "\n";
  file_.Create(fileName);
  file_.WriteLine(header);
}

void TraceWriter::Step(const State& s, long step) {
  if (!file_.IsOpen() || step % every_ != 0) return;
  std::string& row = file_.BeginLine();
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i) row += ',';
    std::visit(CellWriter{row, s}, fields_[i]);
  }
  file_.EndLine();
}

void TraceWriter::Close() { file_.Close(); }

}  // namespace drivanto
