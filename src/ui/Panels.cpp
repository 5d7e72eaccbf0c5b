#include "ui/Panels.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "data/Constants.h"
#include "model/Codes.h"
#include "model/Modules.h"
#include "run/RunControl.h"
#include "run/Tick.h"
#include "state/Snapshot.h"
#include "state/Variables.h"

namespace drivanto {

namespace {

using S = State;

const char* const kClickToClose = "Dessa rutor försvinner om du klickar på denna ruta.";
const char* const kMayEdit = "Denna ruta kan du ändra i.";
const char* const kFromFile = "Dessa värden hämtas från filen CONS.VAL och kan ";
const char* const kNamesFromFile = "Dessa filnamn hämtas från filen CONS.VAL och kan ";
const char* const kPermanent = "permanent ändras genom att  ändra i denna fil.";

// The panels' rows: each field's label is the catalogue's.
struct CarRow {
  double S::*field;
  int decimals;
};

const CarRow kCarRows[] = {
    {&S::maxCurrentElectric, 1}, {&S::maxCurrentCharging, 1}, {&S::vehicleMass, 0},
    {&S::batCapacity, 1},        {&S::chargeSetting, 1},      {&S::tankVolume, 1},
    {&S::genRpm, 1},             {&S::genEff, 1},             {&S::maxBrakeForce, 0},
    {&S::auxPower, 0},           {&S::elmBaseRpm, 1},         {&S::cdA, 2},
    {&S::minVoltage, 1},         {&S::elmMaxTorque, 1},       {&S::fuelEnergy, 2},
    {&S::fuelDensity, 2},        {&S::maxRpm, 0},
};

struct FileRow {
  std::string S::*field;  // nullptr: a row that is shown only
  const char* label = nullptr;  // a shown row's label
  const char* shown = nullptr;  // and its value
};

// Rows 2 to 16 of the files panel. Every name shown is taken over, the
// battery, motor and brake files too.
const FileRow kFileRows[] = {
    {&S::Ttidd},
    {&S::Tkarta},
    {nullptr, "    (Bilmapp)", "  Se separat meny"},
    {&S::Tbat},
    {&S::Tforb},
    {&S::Telm},
    {&S::Tford},
    {&S::Tvx},
    {&S::Tbr},
    {&S::Mussfil},
    {nullptr, "  (Ej använd rad)", " "},
    {nullptr, "  (Ej använd rad)", " "},
    {&S::Tresultat},
    {&S::Tresultatp},
    {&S::Myname},
};

std::string Label(const Field& field) { return FieldOf(field).label; }

std::vector<std::string> Framed(const char* title, const std::vector<std::string>& labels,
                                const std::vector<std::string>& before, const char* fromFile,
                                const std::string& last) {
  std::vector<std::string> rows = {title, kClickToClose};
  rows.insert(rows.end(), labels.begin(), labels.end());
  rows.insert(rows.end(), before.begin(), before.end());
  rows.push_back(fromFile);
  rows.push_back(kPermanent);
  rows.push_back(last);
  return rows;
}

std::string Row(const std::vector<std::string>& rows, std::size_t i) {
  return i < rows.size() ? rows[i] : std::string();
}

// A number row: the partial value of the conversion; commas count as points
// only where the panel accepts them.
double Number(const std::string& row, bool commaAccepted) {
  return commaAccepted ? ParseNumberEitherSeparator(row) : ParseNumberPrefix(row);
}

char FirstAsTyped(const std::string& row) { return row.empty() ? ' ' : FirstCharCp1252(row); }

// The modes panel's letters: the first character upper-cased, or the second
// when the first is a blank.
char ModeLetter(const std::string& row) {
  if (row.empty()) return ' ';
  const std::string cp = Utf8ToCp1252(row);
  char c = UpperAscii(cp[0]);
  if (c == ' ' && cp.size() > 1) c = UpperAscii(cp[1]);
  return c;
}

}  // namespace

std::string PanelNumber(double x, int decimals, char decimalSeparator) {
  if (!std::isfinite(x)) return "0";
  // As printf's "%.5e", "%.5E" and "%.*f" in the C locale, whatever the
  // user's locale (the separator is the caller's choice).
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 5);
  double rounded = 0;
  std::from_chars(buf, res.ptr, rounded);
  if (std::fabs(rounded) >= 1e6) {
    res = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::scientific, 5);
  } else {
    res = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed,
                        std::clamp(decimals, 0, 20));
  }
  std::string text(buf, res.ptr);
  for (char& c : text) {
    if (c == '.') c = decimalSeparator;
    if (c == 'e') c = 'E';
  }
  return text;
}

std::vector<std::string> PanelLabelRows(Panel panel) {
  switch (panel) {
    case Panel::Files: {
      std::vector<std::string> labels;
      for (const FileRow& r : kFileRows) labels.push_back(r.field ? Label(r.field) : r.label);
      return Framed("       ANVÄNDA FILER  (exkl vindrutebilder)", labels, {std::string(12, ' ')},
                    kNamesFromFile, std::string(13, ' '));
    }
    case Panel::CarConstants: {
      std::vector<std::string> labels;
      for (const CarRow& r : kCarRows) labels.push_back(Label(r.field));
      return Framed("                         BILKONSTANTER", labels, {""}, kFromFile, " ");
    }
    case Panel::ProgramConstants: {
      const std::string unused = "     (Ej använd rad)";
      return Framed("            PROGRAMKONSTANTER",
                    {Label(&S::fullTime), Label(&S::fullLength), Label(&S::cycleType), unused,
                     Label(&S::outputFlags), unused, unused, unused, unused,
                     Label(&S::stopAtEmptyTank), Label(&S::roadCurves)},
                    {""}, kFromFile, " ");
    }
    case Panel::StartValues: {
      const std::string unused = "        (Ej använd rad)";
      return Framed("           UTGÅNGSVÄRDEN",
                    {unused, unused, unused, unused, Label(&S::usedCapacity), Label(&S::fuelLeft),
                     Label(&S::v), Label(&S::chargeOffLimit), Label(&S::chargeOnLimit),
                     Label(&S::envOnLimit)},
                    {""}, kFromFile, " ");
    }
    case Panel::Strategy: {
      std::string names;
      for (const StrategyInfo& s : BuiltInStrategies()) {
        const std::string name = s.name;
        names += (names.empty() ? "" : ", ") +
                 (name == "schedule=FILE" ? std::string("schedule=FIL") : name);
      }
      std::vector<std::string> rows = {"             STRATEGI", kClickToClose,
                                       "Strategi (" + names + ")"};
      for (int i = 1; i <= kStrategyParameterRows; ++i) {
        rows.push_back("Parameter " + std::to_string(i) + "  NAMN=VÄRDE");
      }
      rows.insert(rows.end(), {"", "Valet sparas i filen STRATEGI.VAL bredvid CONS.VAL;",
                               "strategins parametrar beskrivs i README.", " "});
      return rows;
    }
    case Panel::Modes:
      return Framed("             MODER",
                    {Label(&S::controlMode), Label(&S::timeMode), Label(&S::dt),
                     Label(&S::gearMode)},
                    {"", "", ""}, kFromFile, "  ");
  }
  return {};
}

std::vector<std::string> StrategyPanelRows(const Sim& sim, char sep) {
  const State& s = sim.s;
  std::vector<std::string> rows = {" ", kMayEdit};
  std::vector<std::pair<std::string, double>> params;
  if (const Strategy* strategy = sim.strategy.get()) {
    rows.push_back(strategy->Name());
    params = strategy->Parameters();
  } else {
    rows.push_back("thermostat");
    params = ThermostatParameters(s);
  }
  for (const auto& [name, value] : params) {
    std::string text = FormatShortest(value);
    for (char& c : text) {
      if (c == '.') c = sep;
    }
    rows.push_back(name + "=" + text);
  }
  rows.resize(std::max<std::size_t>(rows.size(), 3 + kStrategyParameterRows), "");
  return rows;
}

std::vector<std::string> PanelValueRows(const State& s, Panel panel, char sep) {
  std::vector<std::string> rows = {" ", kMayEdit};
  auto letter = [](char c) { return c == '\0' ? std::string() : CharToUtf8(c); };
  switch (panel) {
    case Panel::Files:
      for (const FileRow& r : kFileRows)
        rows.push_back(r.field ? s.*r.field : std::string(r.shown));
      break;
    case Panel::CarConstants:
      for (const CarRow& r : kCarRows) rows.push_back(PanelNumber(s.*r.field, r.decimals, sep));
      break;
    case Panel::ProgramConstants:
      rows.push_back(PanelNumber(s.fullTime, 0, sep));
      rows.push_back(PanelNumber(s.fullLength, 0, sep));
      rows.push_back(letter(s.cycleType));
      rows.push_back(" ");
      rows.push_back(Cp1252ToUtf8(s.outputFlags.Text()));
      for (int i = 0; i < 4; ++i) rows.push_back(" ");
      rows.push_back(letter(s.stopAtEmptyTank));
      rows.push_back(letter(s.roadCurves));
      break;
    case Panel::StartValues:
      for (int i = 0; i < 4; ++i) rows.push_back(" ");
      rows.push_back(PanelNumber(s.usedCapacity, 0, sep));
      rows.push_back(
          PanelNumber(s.tankVolume != 0 ? 100 - s.fuelLeft * 100 / s.tankVolume : 0, 0, sep));
      rows.push_back(PanelNumber(s.v, 0, sep));
      rows.push_back(PanelNumber(s.chargeOffLimit, 0, sep));
      rows.push_back(PanelNumber(s.chargeOnLimit, 0, sep));
      rows.push_back(PanelNumber(s.envOnLimit, 0, sep));
      break;
    case Panel::Strategy:
      break;  // (StrategyPanelRows: the strategy is the run's, not the state's)
    case Panel::Modes:
      rows.push_back(letter(s.controlMode));
      rows.push_back(letter(s.timeMode));
      rows.push_back(PanelNumber(s.dt, 0, sep));
      rows.push_back(s.gearMode == GearMode::Automatic ? "A" : "M");
      break;
  }
  return rows;
}

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t a = text.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  return text.substr(a, text.find_last_not_of(" \t\r") - a + 1);
}

// The strategy panel taken over: the strategy and its parameters checked,
// made on the run's settings and kept beside the constants file. A message
// in Swedish when they cannot be.
std::string TakeOverStrategy(Sim& sim, const std::vector<std::string>& rows) {
  const std::string name = Trimmed(Row(rows, 2));
  std::vector<std::pair<std::string, double>> params;
  for (std::size_t i = 3; i < rows.size(); ++i) {
    const std::string row = Trimmed(rows[i]);
    if (row.empty()) continue;
    const std::size_t eq = row.find('=');
    bool complete = false;
    const double x =
        eq == std::string::npos ? 0.0 : ParseNumberEitherSeparator(row.substr(eq + 1), &complete);
    if (eq == std::string::npos || eq == 0 || !complete || !std::isfinite(x)) {
      return "Strategin har inte tagits över: raden \"" + row + "\" ska vara NAMN=TAL.";
    }
    params.emplace_back(Trimmed(row.substr(0, eq)), x);
  }
  State changed = sim.s;
  std::string why;
  std::unique_ptr<Strategy> made;
  try {
    made = MakeStrategy(name, params, changed, &why);
  } catch (const IoError& e) {
    return "Strategin har inte tagits över: filen " + e.file() + " kan inte läsas (" + e.reason() +
           ").";
  }
  if (!why.empty()) {
    if (why.rfind("unknown strategy", 0) == 0) {
      return "Strategin har inte tagits över: det finns ingen strategi \"" + name + "\".";
    }
    if (why.find("has no parameter") != std::string::npos) {
      return "Strategin har inte tagits över: strategin " + name + " har ingen parameter \"" +
             why.substr(why.find('"') + 1, why.rfind('"') - why.find('"') - 1) + "\".";
    }
    return "Strategin har inte tagits över: parametrarna går inte ihop (" + why + ").";
  }
  const std::vector<std::pair<std::string, double>> kept = made ? made->Parameters() : params;
  sim.s = changed;
  sim.strategy.Set(std::move(made));
  try {
    SaveFolderStrategy(sim.s, name, kept);
  } catch (const IoError& e) {
    return "Strategin gäller nu men kunde inte sparas i " + e.file() + " (" + e.reason() + ").";
  }
  return {};
}

}  // namespace

std::string TakeOverPanel(Sim& sim, Panel panel, const std::vector<std::string>& rows,
                          const std::vector<std::string>& shown) {
  if (!shown.empty() && rows.size() != shown.size()) {
    const std::string why =
        rows.size() < shown.size() ? "rader har slagits ihop" : "rader har delats";
    return "Värdena har inte tagits över: rutan har " + std::to_string(rows.size()) +
           " rader men ska ha " + std::to_string(shown.size()) + " (" + why +
           "), så värdena skulle hamna på fel rader. Ställ tillbaka raderna så att varje värde "
           "står på sin egen rad, eller välj panelen i menyn igen för att börja om med de "
           "gamla värdena.";
  }
  State& s = sim.s;
  // A row the user left as it was shown keeps its value exactly (the panel
  // shows numbers rounded); an edited row is taken over by its rule.
  auto edited = [&](std::size_t i) { return i >= shown.size() || Row(rows, i) != shown[i]; };
  auto number = [&](std::size_t i, double& value, bool commaAccepted) {
    if (edited(i)) value = Number(Row(rows, i), commaAccepted);
  };
  switch (panel) {
    case Panel::Files: {
      std::size_t i = 2;
      for (const FileRow& r : kFileRows) {
        if (r.field && edited(i)) s.*r.field = Cut250(Row(rows, i));
        ++i;
      }
      RereadSettings(sim);
      break;
    }
    case Panel::CarConstants: {
      std::size_t i = 2;
      for (const CarRow& r : kCarRows) number(i++, s.*r.field, true);
      RereadSettings(sim);
      break;
    }
    case Panel::ProgramConstants: {
      number(2, s.fullTime, false);
      number(3, s.fullLength, false);
      // The drive cycle is found again for the chosen kind of cycle.
      SwitchCycleAndRead(sim, edited(4) ? UpperAscii(FirstAsTyped(Row(rows, 4))) : s.cycleType);
      if (edited(6)) s.outputFlags.Assign(Utf8ToCp1252(CutChars(Row(rows, 6), 4)));
      if (edited(11)) s.stopAtEmptyTank = FirstAsTyped(Row(rows, 11));
      if (edited(12)) s.roadCurves = FirstAsTyped(Row(rows, 12));
      break;
    }
    case Panel::StartValues: {
      if (edited(6)) {
        const double used = Number(Row(rows, 6), false);
        s.usedCapacity = used < 0.01 ? 0.01 : used;
      }
      if (edited(7)) {
        const double p = Number(Row(rows, 7), false);
        s.fuelLeft = (100 - p) * s.tankVolume / 100;
      }
      number(8, s.v, false);
      number(9, s.chargeOffLimit, false);
      number(10, s.chargeOnLimit, false);
      number(11, s.envOnLimit, false);
      break;
    }
    case Panel::Strategy:
      return TakeOverStrategy(sim, rows);
    case Panel::Modes:
      if (edited(2)) s.controlMode = ModeLetter(Row(rows, 2));
      if (edited(3)) s.timeMode = ModeLetter(Row(rows, 3));
      number(4, s.dt, true);
      if (edited(5)) {
        s.gearMode = (UpperAscii(FirstAsTyped(Row(rows, 5))) == 'A') ? GearMode::Automatic
                                                                     : GearMode::Manual;
      }
      break;
  }
  return {};
}

std::vector<std::string> CarFolderRows() {
  return {"   Dessa rutor försvinner om du klickar på denna ruta",
          "              Den andra rutan kan du ändra",
          "                                                      Bilen finns i mappen:",
          "",
          "Detta mappnamn hämtas från filen CONS.VAL och  ",
          "kan ",
          "permanent ändras genom att  ändra i denna fil.",
          " "};
}

void TakeOverCarFolder(Sim& sim, const std::string& folder) {
  sim.s.Bilmapp = Cut250(folder);
  RereadSettings(sim);
}

std::vector<std::string> PrintNoticeRows() {
  return {"              Denna ruta försvinner om du klickar på den.", "",
          "Funktionen ännu ej inlagd."};
}

}  // namespace drivanto
