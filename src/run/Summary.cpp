#include "run/Summary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>

#include "base/Errors.h"
#include "base/FixedFormat.h"
#include "base/NumberText.h"
#include "base/Rounding.h"
#include "base/Sha256.h"
#include "base/Text.h"
#include "base/Version.h"
#include "model/Codes.h"
#include "model/CycleFile.h"
#include "model/Inputs.h"

namespace drivanto {

namespace {

// km/h over which the car counts as off the cycle's speed.
constexpr double kBandKmh = 2.0;

std::string Fixed(double x, int decimals) {
  std::string t;
  AppendFixed(t, x, 0, decimals);
  return t;
}

double Per100km(double amount, double metres) {
  return metres > 0 ? amount * 100000 / metres : 0.0;
}
double PerKm(double grams, double metres) { return metres > 0 ? grams * 1000 / metres : 0.0; }
double PerMil(double grams, double metres) { return metres > 0 ? grams * 10000 / metres : 0.0; }

// The chain from fuel to stored energy where the charging control would run
// the engine in this run: at the generator's speed with the torque of the set
// charging current or power, at the run's mean used capacity and mean
// traction current (the margin as for a run in which the engine ran).
double ChargingPointChain(Sim& sim, const RunFigures& figures) {
  const State& s = sim.s;
  const BatteryView& battery = figures.battery();
  // Where the charging control keeps the battery: between its limits.
  const bool band = s.chargeOffLimit >= 0 && s.chargeOffLimit < s.chargeOnLimit &&
                    s.chargeOnLimit <= 100;
  const double uc = band ? (s.chargeOffLimit + s.chargeOnLimit) / 2 : figures.meanUsedCapacity();
  const double powerCurrent = figures.meanPowerCurrent();
  const double ocv = battery.OpenCircuit(uc);
  if (s.genRpm <= 0 || s.genEff <= 0 || ocv <= 0) return 0;
  // The charging current and the voltage it makes (found by a few rounds,
  // as a set power depends on the voltage).
  double u = ocv, current = 0;
  for (int i = 0; i < 4; ++i) {
    current = s.chargeSetting < 0 ? -s.chargeSetting * 1000 / u : s.chargeSetting;
    const double v = battery.Voltage(uc, powerCurrent - current);
    if (v <= 0) return 0;
    u = v;
  }
  const double torque = current * 100 * u * 60 / (s.genRpm * kModelTwoPi) / s.genEff;
  try {
    TableSite site, effSite;
    double maxTorque = 0, eff = 0;
    if (!Lookup1(sim.tables->Get1(site, s.Tforb, "1"), 'i', s.genRpm, 1, &maxTorque)) return 0;
    if (!Lookup2(sim.tables->Get2(effSite, s.Tforb, "2"), 'i', 'i', std::min(torque, maxTorque),
                 s.genRpm, &eff)) {
      return 0;
    }
    const double r = battery.Resistance(uc, powerCurrent - current);
    const double stored = ocv / u * (1 + r * powerCurrent / u);
    return eff / 100 * s.genEff / 100 * stored;
  } catch (const std::exception&) {
    return 0;
  }
}

// The rows of a cycle file: position, speed and mode.
struct CycleRow {
  double pos, speed, mode;
};

std::vector<CycleRow> ReadCycleRows(const std::string& file) {
  std::vector<CycleRow> rows;
  CycleFile f;
  f.Open(file);
  while (!f.AtEnd()) {
    double row[6];
    f.ReadRow(row);
    rows.push_back({row[0], row[1], row[3]});
  }
  return rows;
}

// What is left of the cycle from the position where the run ended to the
// cycle's end: its first end row (mode 100) at or after the active row, else
// its last row. The active row's speed holds until the next row.
CycleLeft LeftOfCycle(const State& s) {
  CycleLeft left;
  const bool time = s.cycleType == 'T';
  left.file = time ? s.Ttidd : s.Tkarta;
  try {
    const std::vector<CycleRow> rows = ReadCycleRows(left.file);
    if (rows.empty()) return left;
    std::size_t end = rows.size() - 1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].pos >= s.rowPos && RoundInt(rows[i].mode) == CycleMode::End) {
        end = i;
        break;
      }
    }
    const double pos = time ? s.cycleTime : s.mapPos;
    const double endPos = rows[end].pos;
    double distance = 0, seconds = 0;
    for (std::size_t i = 0; i < end; ++i) {
      const double from = std::max(rows[i].pos, pos), to = std::min(rows[i + 1].pos, endPos);
      if (to <= from) continue;
      if (time) {
        distance += rows[i].speed * (to - from);
      } else if (rows[i].speed > 0) {
        seconds += (to - from) / rows[i].speed;
      }
    }
    if (time) {
      left.time = std::max(0.0, endPos - pos);
      left.distance = distance;
    } else {
      left.distance = std::max(0.0, endPos - pos);
      left.time = seconds;
    }
  } catch (const std::exception&) {
    // A cycle that cannot be read again: what is left stays unknown.
  }
  return left;
}

}  // namespace

void BatteryView::Read(Sim& sim) {
  const State& s = sim.s;
  valid_ = false;
  try {
    TableSite a, b;
    discharge_ = sim.tables->Get2(a, s.Tbat, "1");
    charge_ = sim.tables->Get2(b, s.Tbat, "2");
    currentScale_ = s.batTableCapacity > 0.1 && s.batCapacity != 0
                        ? s.batTableCapacity / s.batCapacity
                        : 1.0;
    capacityAh_ = s.batCapacity;
    double v = 0;
    valid_ = discharge_.found && Lookup2(discharge_, 'i', 'i', 50, 0, &v);
  } catch (const std::exception&) {
    valid_ = false;
  }
}

double BatteryView::OpenCircuit(double usedCapacity) const {
  double v = 0;
  if (!valid_ || !Lookup2(discharge_, 'i', 'i', usedCapacity, 0, &v, &openHint_)) return 0;
  return v;
}

double BatteryView::Voltage(double usedCapacity, double current) const {
  const double i = current * currentScale_;
  double v = 0;
  if (!valid_) return 0;
  const bool ok =
      i >= 0 ? Lookup2(discharge_, 'i', 'i', usedCapacity, i, &v, &dischargeHint_)
             : charge_.found && Lookup2(charge_, 'i', 'i', usedCapacity, -i, &v, &chargeHint_);
  return ok ? v : 0;
}

double BatteryView::Resistance(double usedCapacity, double current) const {
  const double i = std::fabs(current) < 10 ? (current < 0 ? -10.0 : 10.0) : current;
  const double v = Voltage(usedCapacity, i);
  if (v <= 0) return 0;
  return std::max(0.0, (OpenCircuit(usedCapacity) - v) / i);
}

double BatteryView::StoredEnergy(double from, double to) const {
  if (!valid_ || from == to) return 0;
  const double lo = std::min(from, to), hi = std::max(from, to);
  // The voltage is a straight line between the table's column keys (and the
  // implicit column at 0): trapezoids between them are exact.
  std::vector<double> points = {lo, hi};
  if (0 > lo && 0 < hi) points.push_back(0);
  for (double k : discharge_.keys) {
    if (k > lo && k < hi) points.push_back(k);
  }
  std::sort(points.begin(), points.end());
  double voltPercent = 0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    voltPercent +=
        (OpenCircuit(points[i - 1]) + OpenCircuit(points[i])) / 2 * (points[i] - points[i - 1]);
  }
  // V x % of the capacity in Ah is V x Ah / 100, that is Wh / 100.
  const double kWh = voltPercent * capacityAh_ / 100 / 1000;
  return from > to ? kWh : -kWh;
}

void RunFigures::Begin(Sim& sim, bool resumed) {
  start_ = sim.s;
  resumed_ = resumed;
  battery_.Read(sim);
}

void RunFigures::AfterStep(const State& s) {
  generatorEnergy_ += s.U * s.Ila * s.dt / 3600000;
  const double powerCurrent = s.totalCurrent - s.regenCurrent;
  if (s.Ila != 0 && s.U > 0) {
    // A charging current I raises the voltage by R x I, so the currents that
    // carry a power (traction, auxiliaries, regeneration) shrink by
    // R x I x powerCurrent / U: that charge is saved too.
    const double ocv = battery_.OpenCircuit(s.usedCapacity);
    const double r = battery_.Resistance(s.usedCapacity, s.Iaba);
    generatorStored_ += ocv * s.Ila * (1 + r * powerCurrent / s.U) * s.dt / 3600000;
  }
  time_ += s.dt;
  ucTime_ += s.usedCapacity * s.dt;
  powerCurrentTime_ += powerCurrent * s.dt;
  const bool engineOn = s.chargeState == '+' && s.fuelFlow > 0;
  if (engineOn) {
    engineOnTime_ += s.dt;
    if (!engineWasOn_) ++engineStarts_;
  }
  engineWasOn_ = engineOn;
  if (s.cycleType != 'T') return;
  ++timeSteps_;
  miss_.cycleDistance += s.vCycle * s.dt;
  miss_.drivenDistance += s.ltot - s.ltotPrev;
  miss_.maxShortfall = std::max(miss_.maxShortfall, (s.vCycle - s.v) * 3.6);
  miss_.maxExcess = std::max(miss_.maxExcess, (s.v - s.vCycle) * 3.6);
  if (std::fabs(s.v - s.vCycle) * 3.6 > kBandKmh) miss_.secondsOffBand += s.dt;
}

double RunFigures::TraceMiss::DistanceError() const {
  return cycleDistance > 0 ? (drivenDistance - cycleDistance) * 100 / cycleDistance : 0.0;
}

RunSummary Summarise(Sim& sim, const RunOutcome& r, const RunFigures& figures) {
  const State& s = sim.s;
  const State& s0 = figures.start();
  RunSummary m;
  m.outcome = &r;
  m.endReason = r.reason;
  m.steps = r.steps;
  m.ttot = s.ttot;
  m.ltot = s.ltot;
  m.height = s.height;
  m.resumed = figures.resumed();
  // The distance counts from the odometer's reading at the start; a fresh
  // run's odometer stands at the model's floor of 1 cm, which counts as 0.
  m.startTtot = s0.ttot;
  m.startLtot = (m.resumed || s0.ltot > 0.01) ? s0.ltot : 0.0;
  m.time = s.ttot - m.startTtot;
  m.distance = s.ltot - m.startLtot;
  m.fuelUsed = s0.fuelLeft - s.fuelLeft;
  m.medelforbr = s.medelforbr;
  m.CO = s.CO - s0.CO;
  m.NOx = s.NOx - s0.NOx;
  m.HC = s.HC - s0.HC;
  m.netEnergy = s.netEnergy - s0.netEnergy;
  m.driveEnergy = s.driveEnergy - s0.driveEnergy;
  m.usedCapacity = s.usedCapacity;
  m.dt = s.dt;
  m.timeMode = s.timeMode;
  m.wallSeconds = r.wall;
  m.stepsPerSecond = r.stepSeconds > 0 ? r.steps / r.stepSeconds : 0.0;
  m.fuelPer100km = Per100km(m.fuelUsed, m.distance);
  m.COPerKm = PerKm(m.CO, m.distance);
  m.NOxPerKm = PerKm(m.NOx, m.distance);
  m.HCPerKm = PerKm(m.HC, m.distance);
  m.COPerMil = PerMil(m.CO, m.distance);
  m.NOxPerMil = PerMil(m.NOx, m.distance);
  m.HCPerMil = PerMil(m.HC, m.distance);
  m.engineOnTime = figures.engineOnTime();
  m.engineStarts = figures.engineStarts();
  m.generatorEnergy = figures.generatorEnergy();

  m.fuelEnergy = kFuelEnergyKWhPerLitre;
  m.fuelEnergySetting = s.fuelEnergy;
  std::vector<std::pair<std::string, double>> params;
  if (const Strategy* strategy = sim.strategy.get()) {
    m.strategy = strategy->Name();
    params = strategy->Parameters();
    m.strategyLimits = s.strategyLimits;
  } else {
    params = ThermostatParameters(s);
  }
  for (const auto& [name, value] : params) {
    m.strategyParameters += (m.strategyParameters.empty() ? "" : " ") + name + "=" +
                            FormatShortest(value);
  }
  m.onTimeCycle = figures.onTimeCycle();
  m.traceMiss = figures.traceMiss();
  if (r.reason == "mode100") {
    m.cycle.completed = true;
    m.cycle.file = s.cycleType == 'T' ? s.Ttidd : s.Tkarta;
    m.cycle.time = 0.0;
    m.cycle.distance = 0.0;
  } else {
    m.cycle = LeftOfCycle(s);
  }

  ChargeBalance& b = m.balance;
  b.startUsedCapacity = s0.usedCapacity;
  b.endUsedCapacity = s.usedCapacity;
  b.chargeChange = (s0.usedCapacity - s.usedCapacity) * s.batCapacity / 100;
  b.storedEnergyChange =
      figures.battery().StoredEnergy(s0.usedCapacity, s.usedCapacity);
  b.netEnergyChange = -m.netEnergy;
  // The chain from the fuel's energy to energy stored in the battery. A
  // battery that ends fuller was filled by this run's own charging: its
  // surplus is valued at the run's own chain. A deficit would have been made
  // up by charging where the charging control runs the engine, and is valued
  // at that point's chain under this run's conditions (also for a run in
  // which the engine never ran, or ran only at an odd moment).
  const double fuelEnergy = m.fuelUsed * m.fuelEnergy;
  if (b.storedEnergyChange >= 0 && m.fuelUsed > 0 && figures.generatorStoredEnergy() > 0) {
    b.chainEfficiency = figures.generatorStoredEnergy() / fuelEnergy;
    b.chainFromRun = true;
  } else {
    b.chainEfficiency = ChargingPointChain(sim, figures);
  }
  const double perLitre = b.chainEfficiency * m.fuelEnergy;  // kWh stored a litre
  b.correctedFuel = perLitre > 0 ? m.fuelUsed - b.storedEnergyChange / perLitre : m.fuelUsed;
  b.correctedFuelPer100km = Per100km(b.correctedFuel, m.distance);
  return m;
}

bool FuelEnergySettingDiffers(const RunSummary& m) {
  return !(std::fabs(m.fuelEnergySetting - m.fuelEnergy) <= 0.001 * m.fuelEnergy);
}

std::string CycleWarning(const RunSummary& m) {
  if (m.cycle.completed) return {};
  std::string w = "the run ended (" + m.endReason + ") before the end of its cycle " +
                  Printable(m.cycle.file);
  if (m.cycle.time || m.cycle.distance) {
    w += ": ";
    if (m.cycle.time) w += Fixed(*m.cycle.time, 1) + " s";
    if (m.cycle.time && m.cycle.distance) w += " and ";
    if (m.cycle.distance) w += Fixed(*m.cycle.distance, 1) + " m";
    w += " of it not driven";
  }
  return w;
}

std::vector<InputPrint> InputPrints(const Sim& sim) {
  std::vector<InputPrint> prints;
  for (const RunInput& input : InputsOf(sim)) {
    if (std::string(input.key) == "map" || std::string(input.key) == "named" ||
        std::string(input.key) == "snapshot") {
      continue;
    }
    InputPrint p{input.key, input.file, {}};
    try {
      p.sha256 = sim.tables->Fingerprint(input.file);
    } catch (const IoError&) {
      // A file that is not there (the cycle of the kind not followed).
    }
    prints.push_back(std::move(p));
  }
  return prints;
}

std::string JsonNumber(double x) {
  if (x != x || x - x != 0) return "null";
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : Printable(text)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

namespace {

std::string JsonOptional(const std::optional<double>& x) { return x ? JsonNumber(*x) : "null"; }

bool OnTimeCycle(const RunSummary& m) { return m.onTimeCycle; }
std::string J(double x) { return JsonNumber(x); }

}  // namespace

const std::vector<SummaryKey>& SummaryKeys() {
  using M = const RunSummary&;
  static const std::vector<SummaryKey> keys = {
      {"endReason", 1, [](M m) { return JsonString(m.endReason); }},
      {"steps", 5, [](M m) { return std::to_string(m.steps); }},
      {"ttot", 8, [](M m) { return J(m.ttot); }},
      {"ltot", 9, [](M m) { return J(m.ltot); }},
      {"height", 12, [](M m) { return J(m.height); }},
      {"fuelUsed", 13, [](M m) { return J(m.fuelUsed); }},
      {"medelforbr", 14, [](M m) { return J(m.medelforbr); }},
      {"CO", 15, [](M m) { return J(m.CO); }},
      {"NOx", 16, [](M m) { return J(m.NOx); }},
      {"HC", 17, [](M m) { return J(m.HC); }},
      {"COPerMil", 18, [](M m) { return J(m.COPerMil); }},
      {"NOxPerMil", 19, [](M m) { return J(m.NOxPerMil); }},
      {"HCPerMil", 20, [](M m) { return J(m.HCPerMil); }},
      {"netEnergy", 21, [](M m) { return J(m.netEnergy); }},
      {"driveEnergy", 22, [](M m) { return J(m.driveEnergy); }},
      {"usedCapacity", 23, [](M m) { return J(m.usedCapacity); }},
      {"wallSeconds", 46, [](M m) { return J(m.wallSeconds); }},
      {"stepsPerSecond", 47, [](M m) { return J(m.stepsPerSecond); }},
      {"version", 48, [](M) { return JsonString(kVersion); }},
      {"fuelPer100km", 24, [](M m) { return J(m.fuelPer100km); }},
      {"COPerKm", 25, [](M m) { return J(m.COPerKm); }},
      {"NOxPerKm", 26, [](M m) { return J(m.NOxPerKm); }},
      {"HCPerKm", 27, [](M m) { return J(m.HCPerKm); }},
      {"time", 10, [](M m) { return J(m.time); }},
      {"distance", 11, [](M m) { return J(m.distance); }},
      {"span.from", 0, [](M m) { return JsonString(m.resumed ? "snapshot" : "start"); }},
      {"span.startTtot", 0, [](M m) { return J(m.startTtot); }},
      {"span.startLtot", 0, [](M m) { return J(m.startLtot); }},
      {"dt", 6, [](M m) { return J(m.dt); }},
      {"timeMode", 7, [](M m) { return JsonString(CharToUtf8(m.timeMode)); }},
      {"cycleCompleted", 2, [](M m) { return std::string(m.cycle.completed ? "true" : "false"); }},
      {"cycleFile", 0, [](M m) { return JsonString(m.cycle.file); }},
      {"cycleTimeLeft", 3, [](M m) { return JsonOptional(m.cycle.time); }},
      {"cycleDistanceLeft", 4, [](M m) { return JsonOptional(m.cycle.distance); }},
      {"engineOnTime", 29, [](M m) { return J(m.engineOnTime); }},
      {"engineStarts", 28, [](M m) { return std::to_string(m.engineStarts); }},
      {"generatorEnergy", 30, [](M m) { return J(m.generatorEnergy); }},
      {"fuelEnergy", 31, [](M m) { return J(m.fuelEnergy); }},
      {"fuelEnergySetting", 0, [](M m) { return J(m.fuelEnergySetting); }},
      {"strategy", 49, [](M m) { return JsonString(m.strategy); }},
      {"strategyParameters", 50, [](M m) { return JsonString(m.strategyParameters); }},
      {"strategyLimits", 51, [](M m) { return std::to_string(m.strategyLimits); }},
      {"traceMiss.cycleDistance", 32, [](M m) { return J(m.traceMiss.cycleDistance); },
       OnTimeCycle},
      {"traceMiss.distanceError", 33, [](M m) { return J(m.traceMiss.DistanceError()); },
       OnTimeCycle},
      {"traceMiss.maxShortfall", 34, [](M m) { return J(m.traceMiss.maxShortfall); },
       OnTimeCycle},
      {"traceMiss.maxExcess", 35, [](M m) { return J(m.traceMiss.maxExcess); }, OnTimeCycle},
      {"traceMiss.secondsOffBand", 36, [](M m) { return J(m.traceMiss.secondsOffBand); },
       OnTimeCycle},
      {"chargeBalance.startUsedCapacity", 37, [](M m) { return J(m.balance.startUsedCapacity); }},
      {"chargeBalance.endUsedCapacity", 38, [](M m) { return J(m.balance.endUsedCapacity); }},
      {"chargeBalance.chargeChange", 39, [](M m) { return J(m.balance.chargeChange); }},
      {"chargeBalance.storedEnergyChange", 40,
       [](M m) { return J(m.balance.storedEnergyChange); }},
      {"chargeBalance.netEnergyChange", 41, [](M m) { return J(m.balance.netEnergyChange); }},
      {"chargeBalance.chainEfficiency", 42, [](M m) { return J(m.balance.chainEfficiency); }},
      {"chargeBalance.chainFrom", 43,
       [](M m) { return JsonString(m.balance.chainFromRun ? "run" : "chargingPoint"); }},
      {"chargeBalance.correctedFuel", 44, [](M m) { return J(m.balance.correctedFuel); }},
      {"chargeBalance.correctedFuelPer100km", 45,
       [](M m) { return J(m.balance.correctedFuelPer100km); }},
  };
  return keys;
}

namespace {

void WriteJson(std::ostream& out, const RunSummary& m, const std::vector<InputPrint>& inputs) {
  const RunOutcome& r = *m.outcome;
  // The figures, from the key table; a dotted key is a member of an object
  // (written as null where the run has no such figures).
  std::string_view group;
  bool first = true, skipping = false;
  out << "{";
  for (const SummaryKey& k : SummaryKeys()) {
    const std::string_view key = k.key;
    const std::size_t dot = key.find('.');
    const std::string_view prefix = dot == std::string_view::npos ? "" : key.substr(0, dot);
    const std::string_view name = dot == std::string_view::npos ? key : key.substr(dot + 1);
    if (prefix != group) {
      if (!group.empty() && !skipping) out << "}";
      group = prefix;
      skipping = false;
      if (!prefix.empty()) {
        out << ", \"" << prefix << "\": ";
        if (k.present && !k.present(m)) {
          out << "null";
          skipping = true;
        } else {
          out << "{";
          first = true;
        }
      }
    }
    if (skipping) continue;
    out << (first ? "" : ", ") << "\"" << name << "\": " << k.json(m);
    first = false;
  }
  if (!group.empty() && !skipping) out << "}";
  out << ", \"settings\": {";
  for (std::size_t i = 0; i < r.settings.size(); ++i) {
    out << (i ? ", " : "") << JsonString(r.settings[i].first) << ": "
        << JsonString(r.settings[i].second);
  }
  out << "}, \"runOptions\": " << JsonString(ShellLine(r.runOptions)) << ", \"inputs\": {";
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    out << (i ? ", " : "") << "\"" << inputs[i].key
        << "\": {\"file\": " << JsonString(inputs[i].file) << ", \"sha256\": "
        << (inputs[i].sha256.empty() ? "null" : "\"" + inputs[i].sha256 + "\"") << "}";
  }
  out << "}";
  if (r.exitCode != 0) {
    out << ", \"exitCode\": " << r.exitCode << ", \"error\": " << JsonString(r.error);
  }
  out << "}\n";
}

void WriteText(std::ostream& out, const RunSummary& m) {
  const RunOutcome& r = *m.outcome;
  const ChargeBalance& b = m.balance;
  const RunFigures::TraceMiss& miss = m.traceMiss;
  auto line = [&](const char* label, double v, int decimals, const char* unit) {
    out << label << Fixed(v, decimals) << unit << "\n";
  };
  auto grams = [&](const char* label, double g, double perMil, double perKm) {
    out << label << Fixed(g, 2) << " g  (" << Fixed(perMil, 2) << " g/mil, " << Fixed(perKm, 3)
        << " g/km)\n";
  };
  out << "end reason      " << m.endReason << "\n";
  if (const std::string w = CycleWarning(m); !w.empty()) out << "warning: " << w << "\n";
  out << "steps           " << m.steps << "\n";
  line("ttot            ", m.ttot, 2, " s");
  line("ltot            ", m.ltot, 1, " m");
  if (m.resumed) {
    out << "span            from the snapshot at " << Fixed(m.startTtot, 2) << " s, "
        << Fixed(m.startLtot, 1) << " m: " << Fixed(m.time, 2) << " s, " << Fixed(m.distance, 1)
        << " m (every figure below covers this span)\n";
  }
  line("height          ", m.height, 1, " m");
  out << "step            dt " << FormatShortest(m.dt) << " s, time mode "
      << (m.timeMode == ' ' ? std::string("(none)") : Printable(CharToUtf8(m.timeMode))) << "\n";
  out << "fuel used       " << Fixed(m.fuelUsed, 3) << " l  (" << Fixed(m.fuelPer100km, 2)
      << " l/100 km)\n";
  line("medelforbr      ", m.medelforbr, 1, " cl/mil");
  grams("CO              ", m.CO, m.COPerMil, m.COPerKm);
  grams("NOx             ", m.NOx, m.NOxPerMil, m.NOxPerKm);
  grams("HC              ", m.HC, m.HCPerMil, m.HCPerKm);
  out << "strategy        " << m.strategy << " (" << m.strategyParameters << ")";
  if (m.strategyLimits > 0) out << ", limited by the engine in " << m.strategyLimits << " steps";
  out << "\n";
  out << "engine          " << m.engineStarts << " starts, " << Fixed(m.engineOnTime, 1)
      << " s on, generator " << Fixed(m.generatorEnergy, 4) << " kWh\n";
  line("netEnergy       ", m.netEnergy, 4, " kWh");
  line("driveEnergy     ", m.driveEnergy, 4, " kWh");
  line("usedCapacity    ", m.usedCapacity, 3, " %");
  out << "charge balance  " << Fixed(b.startUsedCapacity, 3) << " % -> "
      << Fixed(b.endUsedCapacity, 3) << " % used: " << Fixed(b.chargeChange, 3) << " Ah, "
      << Fixed(b.storedEnergyChange, 4) << " kWh stored; corrected fuel "
      << Fixed(b.correctedFuel, 3) << " l (" << Fixed(b.correctedFuelPer100km, 2)
      << " l/100 km)\n";
  if (FuelEnergySettingDiffers(m)) {
    out << "note: the engine burns fuel of " << Fixed(m.fuelEnergy, 3)
        << " kWh/l; line 32 of the constants file (" << FormatShortest(m.fuelEnergySetting)
        << " kWh/l) is not used by the model or by these figures\n";
  }
  if (m.onTimeCycle) {
    out << "trace miss      " << Fixed(miss.DistanceError(), 2) << " % of "
        << Fixed(miss.cycleDistance, 1) << " m; shortfall up to " << Fixed(miss.maxShortfall, 1)
        << " km/h, excess up to " << Fixed(miss.maxExcess, 1) << " km/h; "
        << Fixed(miss.secondsOffBand, 1) << " s off the 2 km/h band\n";
    if (std::fabs(miss.DistanceError()) > 1) {
      out << "warning: the car drove " << Fixed(std::fabs(miss.DistanceError()), 2) << " % "
          << (miss.DistanceError() > 0 ? "more" : "less") << " than the cycle asks\n";
    }
  }
  if (!r.settings.empty()) {
    out << "settings       ";
    for (const auto& [name, value] : r.settings) out << " " << name << "=" << Printable(value);
    out << "\n";
  }
  if (!r.runOptions.empty()) out << "run options     " << Printable(ShellLine(r.runOptions)) << "\n";
  line("wall time       ", m.wallSeconds, 3, " s");
  line("steps/second    ", m.stepsPerSecond, 0, "");
  out << "version         " << kVersion << "\n";
}

}  // namespace

void WriteSummary(std::ostream& out, const RunSummary& m, const std::vector<InputPrint>& inputs,
                  bool json) {
  if (json) {
    WriteJson(out, m, inputs);
  } else {
    WriteText(out, m);
  }
}

}  // namespace drivanto
