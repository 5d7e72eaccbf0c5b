#include "shell/SweepTable.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Version.h"
#include "shell/Json.h"
#include "shell/Summary.h"

namespace drivanto {

namespace fs = std::filesystem;

namespace {

void Append(const std::string& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << text;
  out.flush();
  if (!out) throw IoError(file, 0, "cannot be written");
}

// The summary keys that make the table's columns, in order.
const std::vector<std::string>& SummaryColumns() {
  static const std::vector<std::string> keys = {
      "endReason",
      "cycleCompleted",
      "cycleTimeLeft",
      "cycleDistanceLeft",
      "steps",
      "dt",
      "timeMode",
      "ttot",
      "ltot",
      "time",
      "distance",
      "height",
      "fuelUsed",
      "medelforbr",
      "CO",
      "NOx",
      "HC",
      "COPerMil",
      "NOxPerMil",
      "HCPerMil",
      "netEnergy",
      "driveEnergy",
      "usedCapacity",
      "fuelPer100km",
      "COPerKm",
      "NOxPerKm",
      "HCPerKm",
      "engineStarts",
      "engineOnTime",
      "generatorEnergy",
      "fuelEnergy",
      "traceMiss.cycleDistance",
      "traceMiss.distanceError",
      "traceMiss.maxShortfall",
      "traceMiss.maxExcess",
      "traceMiss.secondsOffBand",
      "chargeBalance.startUsedCapacity",
      "chargeBalance.endUsedCapacity",
      "chargeBalance.chargeChange",
      "chargeBalance.storedEnergyChange",
      "chargeBalance.netEnergyChange",
      "chargeBalance.chainEfficiency",
      "chargeBalance.chainFrom",
      "chargeBalance.correctedFuel",
      "chargeBalance.correctedFuelPer100km",
      "wallSeconds",
      "stepsPerSecond",
      "version"};
  return keys;
}

std::string PlanText(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string text;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    text += (i ? ", " : "") + JsonString(pairs[i].first) + ": " + JsonString(pairs[i].second);
  }
  return text;
}

std::string CsvCell(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

SweepTable::SweepTable(std::string dir, std::vector<std::string> settingNames)
    : dir_(std::move(dir)), names_(std::move(settingNames)) {}

std::string SweepTable::Header() const {
  std::string h = "id";
  for (const std::string& n : names_) h += "," + CsvCell(SettingColumn(n));
  h += ",exitCode,error";
  for (const std::string& k : SummaryColumns()) h += "," + k;
  return h + "\n";
}

void SweepTable::Start(bool resume) {
  const std::string csv = dir_ + "/summary.csv";
  if (resume && fs::exists(csv)) {
    const std::string text = ReadFileBytes(csv);
    if (text.substr(0, text.find('\n') + 1) != Header()) {
      throw IoError(csv, 1, "its columns are not this sweep's; start it in another folder");
    }
    return;
  }
  WriteFileAtomic(csv, Header());
  WriteFileAtomic(dir_ + "/summary.jsonl", "");
}

void SweepTable::Add(const SweepRun& run, const SweepOutcome& o) {
  std::map<std::string, std::string> values;
  if (auto flat = FlattenJson(o.summary)) {
    for (const JsonValue& v : *flat) values[v.key] = v.text;
  }
  std::string row = CsvCell(run.id);
  for (const std::string& n : names_) {
    std::string v;
    for (const auto& [name, value] : run.settings) {
      if (name == n) v = value;
    }
    row += "," + CsvCell(v);
  }
  row += "," + std::to_string(o.exitCode) + "," + CsvCell(o.error);
  // A failed run's figures stay empty: its partial run is no result.
  for (const std::string& k : SummaryColumns()) {
    auto it = values.find(k);
    const bool empty = o.exitCode != 0 || it == values.end() || it->second == "null";
    row += "," + (empty ? std::string() : CsvCell(it->second));
  }
  const std::string summary = o.summary.empty() ? std::string("null") : o.summary;
  std::string json = "{\"id\": " + JsonString(run.id) + ", \"settings\": {" +
                     PlanText(run.settings) + "}, \"exitCode\": " + std::to_string(o.exitCode) +
                     ", \"error\": " + JsonString(o.error) + ", \"summary\": " +
                     (o.exitCode == 0 ? summary : "null");
  if (o.exitCode != 0) json += ", \"partialSummary\": " + summary;
  json += "}\n";
  std::lock_guard<std::mutex> lock(mutex_);
  Append(dir_ + "/summary.csv", row + "\n");
  Append(dir_ + "/summary.jsonl", json);
}

std::vector<std::string> SettingNames(const std::vector<SweepRun>& runs) {
  std::vector<std::string> names;
  for (const SweepRun& r : runs) {
    for (const auto& s : r.settings) {
      if (std::find(names.begin(), names.end(), s.first) == names.end()) names.push_back(s.first);
    }
  }
  return names;
}

// The last line of a text that is a JSON object (a failed run's summary is
// on its error stream, before the message).
std::string JsonLine(const std::string& text) {
  std::string found;
  for (const std::string& line : SplitLines(text)) {
    if (!line.empty() && line.front() == '{' && line.back() == '}') found = line;
  }
  return found;
}

std::string ErrorText(const std::string& err) {
  std::string message;
  for (const std::string& line : SplitLines(err)) {
    if (line.empty() || line.front() == '{') continue;
    message += (message.empty() ? "" : " ") + line;
  }
  return message;
}

std::set<std::string> FinishedIds(const std::string& dir) {
  std::set<std::string> ids;
  std::error_code ec;
  if (!fs::exists(dir + "/summary.jsonl", ec)) return ids;
  for (const std::string& line : SplitLines(ReadFileBytes(dir + "/summary.jsonl"))) {
    auto flat = FlattenJson(line);
    if (!flat) continue;
    for (const JsonValue& v : *flat) {
      if (v.key == "id") ids.insert(v.text);
    }
  }
  return ids;
}

std::string SettingColumn(const std::string& name) { return "set." + name; }

// The plan: the study, then one line per run with its id and settings, for
// --collect and --resume.
void WritePlan(const std::string& dir, const SweepPlan& plan) {
  std::string text = "{\"study\": {\"program\": \"drivanto-sweep\", \"version\": \"" +
                     std::string(kVersion) + "\", \"folder\": " + JsonString(plan.folder) +
                     ", \"options\": " + JsonString(plan.options) + ", \"inputs\": {" +
                     PlanText(plan.inputs) + "}}}\n";
  for (const SweepRun& r : plan.runs) {
    text += "{\"id\": " + JsonString(r.id) + ", \"settings\": {" + PlanText(r.settings) + "}}\n";
  }
  WriteFileAtomic(dir + "/plan.jsonl", text);
}

SweepPlan ReadPlan(const std::string& dir) {
  const std::string file = dir + "/plan.jsonl";
  const std::string bytes = ReadFileBytes(file);
  RejectUtf16(file, bytes);
  SweepPlan plan;
  plan.described = false;
  int lineNo = 0;
  for (const std::string& line : SplitLines(bytes)) {
    ++lineNo;
    if (line.empty()) continue;
    auto flat = FlattenJson(line);
    if (!flat) throw IoError(file, lineNo, "is not a line of a sweep's plan");
    if (!flat->empty() && flat->front().key.rfind("study.", 0) == 0) {
      plan.described = true;
      for (const JsonValue& v : *flat) {
        if (v.key == "study.folder") plan.folder = v.text;
        if (v.key == "study.options") plan.options = v.text;
        if (v.key.rfind("study.inputs.", 0) == 0) plan.inputs.push_back({v.key.substr(13), v.text});
      }
      continue;
    }
    SweepRun r;
    for (const JsonValue& v : *flat) {
      if (v.key == "id") r.id = v.text;
      if (v.key.rfind("settings.", 0) == 0) r.settings.push_back({v.key.substr(9), v.text});
    }
    if (r.id.empty()) throw IoError(file, lineNo, "holds a run without an id");
    plan.runs.push_back(std::move(r));
  }
  if (plan.runs.empty()) throw IoError(file, 0, "holds no runs");
  return plan;
}

std::string PlanDifference(const SweepPlan& study, const SweepPlan& now) {
  std::vector<std::string> what;
  if (!study.described) {
    return "the study was made by an older drivanto-sweep that did not record its options and "
           "inputs; start the sweep in another folder";
  }
  if (study.folder != now.folder) {
    what.push_back("its folder was " + Printable(study.folder) + ", now " + Printable(now.folder));
  }
  if (study.options != now.options) {
    what.push_back("its options were \"" + Printable(study.options) + "\", now \"" +
                   Printable(now.options) + "\"");
  }
  std::map<std::string, std::string> before(study.inputs.begin(), study.inputs.end());
  std::map<std::string, std::string> after(now.inputs.begin(), now.inputs.end());
  for (const auto& [name, sha] : after) {
    auto it = before.find(name);
    if (it == before.end()) {
      what.push_back("it did not read " + Printable(name));
    } else if (it->second != sha) {
      what.push_back(Printable(name) + " has changed since");
    }
  }
  for (const auto& [name, sha] : before) {
    if (!after.count(name)) what.push_back("it read " + Printable(name) + ", this sweep does not");
  }
  if (study.runs.size() != now.runs.size()) {
    what.push_back("it has " + std::to_string(study.runs.size()) + " runs, this sweep " +
                   std::to_string(now.runs.size()));
  }
  int shown = 0;
  for (std::size_t i = 0; i < std::min(study.runs.size(), now.runs.size()) && shown < 3; ++i) {
    const SweepRun &a = study.runs[i], &b = now.runs[i];
    if (a.id == b.id && a.settings == b.settings) continue;
    ++shown;
    auto text = [](const SweepRun& r) {
      std::string t = r.id + " (";
      for (std::size_t k = 0; k < r.settings.size(); ++k) {
        t += (k ? " " : "") + r.settings[k].first + "=" + r.settings[k].second;
      }
      return Printable(t + ")");
    };
    what.push_back("run " + std::to_string(i + 1) + " was " + text(a) + ", now " + text(b));
  }
  std::string text;
  for (std::size_t i = 0; i < what.size(); ++i) text += (i ? "; " : "") + what[i];
  return text;
}

int Collect(const std::string& dir, std::ostream& out, std::ostream& err) {
  const std::vector<SweepRun> runs = ReadPlan(dir).runs;
  SweepTable table(dir, SettingNames(runs));
  table.Start(false);
  int missing = 0, failed = 0;
  for (const SweepRun& run : runs) {
    const std::string runDir = dir + "/runs/" + run.id;
    SweepOutcome o;
    std::error_code ec;
    if (!fs::exists(runDir + "/exitcode", ec)) {
      ++missing;
      continue;
    }
    bool complete = false;
    o.exitCode =
        static_cast<int>(ParseNumberPrefix(ReadFileBytes(runDir + "/exitcode"), &complete));
    const std::string stdoutText =
        fs::exists(runDir + "/stdout.txt") ? ReadFileBytes(runDir + "/stdout.txt") : std::string();
    const std::string stderrText =
        fs::exists(runDir + "/stderr.txt") ? ReadFileBytes(runDir + "/stderr.txt") : std::string();
    o.summary = o.exitCode == 0 ? JsonLine(stdoutText) : JsonLine(stderrText);
    if (o.exitCode == 0 && fs::exists(runDir + "/summary.json")) {
      o.summary = JsonLine(ReadFileBytes(runDir + "/summary.json"));
    }
    o.error = o.exitCode == 0 ? std::string() : ErrorText(stderrText);
    failed += o.exitCode != 0;
    table.Add(run, o);
  }
  out << "collected " << runs.size() - missing << " of " << runs.size() << " runs into " << dir
      << "/summary.csv";
  if (failed) out << "; " << failed << " failed";
  out << "\n";
  if (missing) err << "drivanto-sweep: " << missing << " runs have not run yet\n";
  return (missing || failed) ? 1 : 0;
}

}  // namespace drivanto
