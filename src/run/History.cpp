#include "run/History.h"

#include <cmath>
#include <limits>
#include <map>
#include <sstream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Words.h"

namespace drivanto {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double& At(Sample& s, Quantity q) { return s[static_cast<std::size_t>(q)]; }

Sample Empty() {
  Sample s;
  s.fill(kNaN);
  return s;
}

}  // namespace

Sample SampleOf(const State& s) {
  Sample x;
  At(x, Quantity::Time) = s.ttot;
  At(x, Quantity::Speed) = s.v * 3.6;
  At(x, Quantity::Requested) = s.vb * 3.6;
  At(x, Quantity::CycleSpeed) = s.vCycle * 3.6;
  At(x, Quantity::UsedCapacity) = s.usedCapacity;
  At(x, Quantity::Voltage) = s.U;
  At(x, Quantity::Current) = s.Iaba;
  At(x, Quantity::Charging) = s.chargeState == '+' ? 1 : 0;
  At(x, Quantity::ChargeCurrent) = s.Ila;
  At(x, Quantity::EnginePower) = s.engineSpeed * s.engineTorque * 2 * 3.14 / 60 / 1000;
  At(x, Quantity::Fuel) = s.tankVolume - s.fuelLeft;
  At(x, Quantity::CO) = s.CO;
  At(x, Quantity::NOx) = s.NOx;
  At(x, Quantity::HC) = s.HC;
  At(x, Quantity::EngineSpeed) = s.engineSpeed;
  At(x, Quantity::EngineTorque) = s.engineTorque;
  At(x, Quantity::MotorSpeed) = s.nel;
  At(x, Quantity::MotorTorque) = s.mel;
  return x;
}

RunHistory::RunHistory(std::size_t limit) : limit_(limit < 16 ? 16 : limit) {}

void RunHistory::Clear() {
  samples_.clear();
  stride_ = 1;
  skipped_ = 0;
  ++version_;
}

void RunHistory::Record(const Sample& sample) {
  if (++skipped_ < stride_) return;
  skipped_ = 0;
  if (samples_.size() >= limit_) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < samples_.size(); i += 2) samples_[kept++] = samples_[i];
    samples_.resize(kept);
    stride_ *= 2;
  }
  samples_.push_back(sample);
  ++version_;
}

RunHistory HistoryFromTrace(const std::string& file) {
  const std::string bytes = ReadFileBytes(file);
  RejectUtf16(file, bytes);
  const std::vector<std::string> lines = SplitLines(DecodeFileText(bytes));
  if (lines.empty()) throw IoError(file, 0, "the trace is empty");
  // Column of each quantity, by the variable's name before its unit.
  const std::map<std::string, Quantity> byName = {{"ttot", Quantity::Time},
                                                  {"v", Quantity::Speed},
                                                  {"vb", Quantity::Requested},
                                                  {"vCycle", Quantity::CycleSpeed},
                                                  {"usedCapacity", Quantity::UsedCapacity},
                                                  {"U", Quantity::Voltage},
                                                  {"Iaba", Quantity::Current},
                                                  {"chargeState", Quantity::Charging},
                                                  {"Ila", Quantity::ChargeCurrent},
                                                  {"fuelLeft", Quantity::Fuel},
                                                  {"CO", Quantity::CO},
                                                  {"NOx", Quantity::NOx},
                                                  {"HC", Quantity::HC},
                                                  {"nic", Quantity::EngineSpeed},
                                                  {"mic", Quantity::EngineTorque},
                                                  {"nel", Quantity::MotorSpeed},
                                                  {"mel", Quantity::MotorTorque}};
  std::vector<int> column(kQuantities, -1);
  std::vector<std::string> header;
  {
    std::istringstream in(lines[0]);
    for (std::string cell; std::getline(in, cell, ',');) header.push_back(cell);
  }
  for (std::size_t c = 0; c < header.size(); ++c) {
    const std::string& name = header[c];
    for (const auto& [n, q] : byName) {
      if (name == n || name.rfind(n + "_", 0) == 0)
        column[static_cast<std::size_t>(q)] = static_cast<int>(c);
    }
  }
  if (column[static_cast<std::size_t>(Quantity::Time)] < 0) {
    throw IoError(file, 1, "not a step trace: no column ttot_s");
  }
  RunHistory h(std::numeric_limits<std::size_t>::max());
  double tank = kNaN;
  for (std::size_t n = 1; n < lines.size(); ++n) {
    if (lines[n].empty()) continue;
    std::vector<std::string> cells;
    std::istringstream in(lines[n]);
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
    Sample s = Empty();
    for (std::size_t q = 0; q < kQuantities; ++q) {
      const int c = column[q];
      if (c < 0 || static_cast<std::size_t>(c) >= cells.size()) continue;
      const std::string& cell = cells[static_cast<std::size_t>(c)];
      if (static_cast<Quantity>(q) == Quantity::Charging) {
        s[q] = (cell == "+" || cell == "\"+\"") ? 1 : 0;
        continue;
      }
      bool complete = false;
      const double v = ParseNumberPrefix(cell, &complete);
      if (!complete)
        throw IoError(file, static_cast<int>(n + 1), "\"" + cell + "\" is not a number");
      s[q] = v;
    }
    for (Quantity q : {Quantity::Speed, Quantity::Requested, Quantity::CycleSpeed}) At(s, q) *= 3.6;
    // The trace holds the fuel left: the fuel used counts from the first row.
    if (std::isnan(tank)) tank = At(s, Quantity::Fuel);
    At(s, Quantity::Fuel) = tank - At(s, Quantity::Fuel);
    const double n_ = At(s, Quantity::EngineSpeed), m = At(s, Quantity::EngineTorque);
    At(s, Quantity::EnginePower) = n_ * m * 2 * 3.14 / 60 / 1000;
    h.Record(s);
  }
  return h;
}

RunHistory HistoryFromResultFiles(const std::string& result1, const std::string& result2) {
  auto rows = [](const std::string& file) {
    std::vector<std::vector<double>> out;
    if (file.empty()) return out;
    const std::string bytes = ReadFileBytes(file);
    RejectUtf16(file, bytes);
    const std::vector<std::string> lines = SplitLines(bytes);
    if (lines.size() < 2 || lines[1].rfind("----------", 0) != 0) {
      throw IoError(file, 0, "not a result file: its second line is not the rule of dashes");
    }
    for (std::size_t n = 2; n < lines.size(); ++n) {
      // The numbers up to the first word that is none (read with the
      // decimal point, whatever the locale).
      std::vector<double> row;
      std::size_t at = 0;
      for (std::string_view word = NextWord(lines[n], &at); !word.empty();
           word = NextWord(lines[n], &at)) {
        double x = 0;
        if (!IsPlainNumber(word, &x)) break;
        row.push_back(x);
      }
      if (row.size() != 15) {
        throw IoError(file, static_cast<int>(n + 1),
                      "a row of " + std::to_string(row.size()) + " numbers, not 15");
      }
      out.push_back(std::move(row));
    }
    return out;
  };
  const auto r1 = rows(result1);
  const auto r2 = rows(result2);
  if (!r1.empty() && !r2.empty() && r1.size() != r2.size()) {
    throw IoError(
        result2, 0,
        "holds " + std::to_string(r2.size()) + " rows, result file 1 " + std::to_string(r1.size()));
  }
  RunHistory h(std::numeric_limits<std::size_t>::max());
  const std::size_t n = std::max(r1.size(), r2.size());
  for (std::size_t i = 0; i < n; ++i) {
    Sample s = Empty();
    if (!r1.empty()) {
      const auto& a = r1[i];
      At(s, Quantity::Time) = a[14];
      At(s, Quantity::Speed) = a[11] * 3.6;
      At(s, Quantity::Requested) = a[12] * 3.6;
      At(s, Quantity::Voltage) = a[2];
      At(s, Quantity::Current) = a[7];
      At(s, Quantity::EngineSpeed) = a[0];
      At(s, Quantity::EngineTorque) = a[1];
    }
    if (!r2.empty()) {
      const auto& b = r2[i];
      At(s, Quantity::Time) = b[14];
      At(s, Quantity::MotorSpeed) = b[1];
      At(s, Quantity::MotorTorque) = b[2];
      At(s, Quantity::EngineSpeed) = b[7];
      At(s, Quantity::EngineTorque) = b[8];
      At(s, Quantity::ChargeCurrent) = b[9];
      At(s, Quantity::Charging) = b[9] > 0 ? 1 : 0;
      At(s, Quantity::CO) = b[10];
      At(s, Quantity::NOx) = b[11];
      At(s, Quantity::HC) = b[12];
    }
    const double nic = At(s, Quantity::EngineSpeed), mic = At(s, Quantity::EngineTorque);
    At(s, Quantity::EnginePower) = nic * mic * 2 * 3.14 / 60 / 1000;
    h.Record(s);
  }
  return h;
}

}  // namespace drivanto
