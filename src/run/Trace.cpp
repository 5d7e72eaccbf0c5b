#include "run/Trace.h"

#include <charconv>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/Text.h"

namespace drivanto {

namespace {

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
  // Texts as a message shows them: control bytes (a character of code 0
  // among them) and bytes that are not UTF-8 as \xNN, never raw.
  void operator()(char State::*m) { AppendText(out, Printable(CharToUtf8(s.*m))); }
  void operator()(std::string State::*m) { AppendText(out, Printable(s.*m)); }
  void operator()(String4 State::*m) { AppendText(out, Printable(Cp1252ToUtf8((s.*m).Text()))); }
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
  const NamedField* f = FindField(name);
  if (!f) return {};
  // The catalogue's unit in a form that fits a column name: "m/s" becomes
  // "m_per_s", "%" "pct", "rpm/(m/s)" "rpm_per_m_per_s", "A or kW" "A_or_kW".
  std::string unit;
  const std::string text = f->unit;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      unit += "pct";
    } else if (c == '/') {
      unit += "_per_";
    } else if (c == ' ' || c == ',') {
      if (!unit.empty() && unit.back() != '_') unit += '_';
    } else if (c != '(' && c != ')') {
      unit += c;
    }
  }
  return unit;
}

std::vector<std::string> TraceableVariables() {
  std::vector<std::string> names;
  for (const NamedField& f : AllFields()) {
    if (IsScalar(f.field)) names.push_back(f.name);
  }
  return names;
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
  WriteRow(s);
  lastWritten_ = step;
}

void TraceWriter::Finish(const State& s, long step) {
  if (!file_.IsOpen() || step <= 0 || step == lastWritten_) return;
  WriteRow(s);
  lastWritten_ = step;
}

void TraceWriter::WriteRow(const State& s) {
  std::string& row = file_.BeginLine();
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (i) row += ',';
    std::visit(CellWriter{row, s}, fields_[i]);
  }
  file_.EndLine();
}

void TraceWriter::Close() { file_.Close(); }

}  // namespace drivanto
