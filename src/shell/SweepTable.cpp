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
  static const std::vector<std::string> keys = {"endReason",
                                                "steps",
                                                "ttot",
                                                "ltot",
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
                                                "traceMiss.cycleDistance",
                                                "traceMiss.distanceError",
                                                "traceMiss.maxShortfall",
                                                "traceMiss.maxExcess",
                                                "traceMiss.secondsOffBand",
                                                "chargeBalance.netEnergyChange",
                                                "chargeBalance.chainEfficiency",
                                                "chargeBalance.correctedFuel",
                                                "chargeBalance.correctedFuelPer100km",
                                                "wallSeconds",
                                                "stepsPerSecond",
                                                "version"};
  return keys;
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
  for (const std::string& n : names_) h += "," + CsvCell(n);
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
  for (const std::string& k : SummaryColumns()) {
    auto it = values.find(k);
    row += "," + (it == values.end() || it->second == "null" ? std::string() : CsvCell(it->second));
  }
  std::string json = "{\"id\": " + JsonString(run.id) + ", \"settings\": {";
  for (std::size_t i = 0; i < run.settings.size(); ++i) {
    json += (i ? ", " : "") + JsonString(run.settings[i].first) + ": " +
            JsonString(run.settings[i].second);
  }
  json += "}, \"exitCode\": " + std::to_string(o.exitCode) + ", \"error\": " + JsonString(o.error) +
          ", \"summary\": " + (o.summary.empty() ? std::string("null") : o.summary) + "}\n";
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

// The plan: one line per run with its id and settings, for --collect.
void WritePlan(const std::string& dir, const std::vector<SweepRun>& runs) {
  std::string text;
  for (const SweepRun& r : runs) {
    text += "{\"id\": " + JsonString(r.id) + ", \"settings\": {";
    for (std::size_t i = 0; i < r.settings.size(); ++i) {
      text += (i ? ", " : "") + JsonString(r.settings[i].first) + ": " +
              JsonString(r.settings[i].second);
    }
    text += "}}\n";
  }
  WriteFileAtomic(dir + "/plan.jsonl", text);
}

std::vector<SweepRun> ReadPlan(const std::string& dir) {
  std::vector<SweepRun> runs;
  for (const std::string& line : SplitLines(ReadFileBytes(dir + "/plan.jsonl"))) {
    auto flat = FlattenJson(line);
    if (!flat) continue;
    SweepRun r;
    for (const JsonValue& v : *flat) {
      if (v.key == "id") r.id = v.text;
      if (v.key.rfind("settings.", 0) == 0) r.settings.push_back({v.key.substr(9), v.text});
    }
    runs.push_back(std::move(r));
  }
  return runs;
}

int Collect(const std::string& dir, std::ostream& out, std::ostream& err) {
  const std::vector<SweepRun> runs = ReadPlan(dir);
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
