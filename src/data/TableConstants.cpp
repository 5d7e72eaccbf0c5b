#include "data/TableConstants.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Rounding.h"
#include "base/Text.h"

namespace drivanto {

namespace {

// The value lines of a file's constants section, in order; empty when the
// file has no line "Const". Lines past the end of the file read as empty.
class ConstSection {
 public:
  explicit ConstSection(const std::string& fileName) {
    const std::string bytes = ReadFileBytes(fileName);
    std::string_view rest = bytes;
    // A byte-order mark in front of a first line "Const" does not hide it.
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    // Line by line (CR LF, LF or a lone CR), as far as the constants reach:
    // a file of many table rows is not split whole.
    auto nextLine = [&](std::string* line) {
      if (rest.empty()) return false;
      std::size_t end = rest.find_first_of("\r\n");
      if (end == std::string_view::npos) end = rest.size();
      *line = CutChars(DecodeFileText(rest.substr(0, end)), 250);
      if (end < rest.size() && rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n') {
        ++end;
      }
      rest.remove_prefix(std::min(end + 1, rest.size()));
      return true;
    };
    std::string line;
    while (nextLine(&line)) {
      if (line != "Const") continue;
      found_ = true;
      while (lines_.size() < kMostLines && nextLine(&line)) lines_.push_back(line);
      break;
    }
  }
  bool found() const { return found_; }
  // The value line of pair n (from 1): the line after its label line.
  std::string Value(int n) const {
    std::size_t i = static_cast<std::size_t>(2 * n - 1);
    return i < lines_.size() ? lines_[i] : std::string();
  }

 private:
  // The files hold at most four pairs.
  static constexpr std::size_t kMostLines = 8;
  bool found_ = false;
  std::vector<std::string> lines_;
};

bool IsMinusOne(double x) { return RoundInt(x) == -1; }

double NumberOr(const std::string& line, double fallback) {
  bool complete = false;
  double v = ParseNumberPrefix(line, &complete);
  return complete ? v : fallback;
}

}  // namespace

void ReadTableConstants(State& s, TableCache& tables) {
  // Vehicle: reference mass and air-drag area.
  s.tableCdA = s.cdA;
  {
    ConstSection c(s.Tford);
    if (c.found()) {
      s.tableMass = ParseNumberPrefix(c.Value(1));
      if (IsMinusOne(s.vehicleMass)) s.vehicleMass = s.tableMass;
      s.tableCdA = ParseNumberPrefix(c.Value(2));
      if (IsMinusOne(s.cdA)) s.cdA = s.tableCdA;
    }
  }
  // Engine: one stored constant.
  {
    ConstSection c(s.Tforb);
    if (c.found()) s.engineConst = ParseNumberPrefix(c.Value(1));
  }
  // Battery: the capacity the tables were measured for and the voltmeter scale.
  {
    ConstSection c(s.Tbat);
    if (c.found()) {
      s.batTableCapacity = ParseNumberPrefix(c.Value(1));
      if (IsMinusOne(s.batCapacity)) s.batCapacity = s.batTableCapacity;
      s.Uskala = NumberOr(c.Value(2), 200.0);
    }
  }
  // Motor: base speed, maximum torque, reference voltage, loss coefficient.
  {
    ConstSection c(s.Telm);
    if (c.found()) {
      if (IsMinusOne(s.elmBaseRpm)) s.elmBaseRpm = ParseNumberPrefix(c.Value(1));
      if (IsMinusOne(s.elmMaxTorque)) s.elmMaxTorque = ParseNumberPrefix(c.Value(2));
      s.elmRefVoltage = NumberOr(c.Value(3), -1.0);
      s.elmLossCoef = NumberOr(c.Value(4), 0.0);
    }
  }
  auto referenceVoltage = [&] { return TABR2(tables, s.Tbat, "1", '-', '-', 0.01, 0.01); };
  if (s.elmRefVoltage < -1.1) {
    // A negative voltage other than -1: the coefficient was given per volt.
    s.elmLossCoef = -s.elmLossCoef / s.elmRefVoltage;
    s.elmRefVoltage = referenceVoltage();
    s.elmLossCoef = s.elmLossCoef * s.elmRefVoltage;
  }
  if (s.elmRefVoltage < 0) s.elmRefVoltage = referenceVoltage();
}

}  // namespace drivanto
