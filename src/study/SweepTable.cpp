#include "study/SweepTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "base/Version.h"
#include "study/Json.h"
#include "run/Summary.h"

namespace drivanto {

namespace fs = std::filesystem;

namespace {

// Appends text whole or not at all: what a failed write (a full disk, the
// file-size limit) left of it is cut off again. Returns the file's size
// before, for a caller that must take a pair of appends back.
int OpenForAppending(const std::string& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw IoError(file, 0, "cannot be written: " + ErrnoReason(errno));
  return fd;
}

// Appends the text whole or not at all; returns the file's size before it.
off_t AppendWhole(int fd, const std::string& file, const std::string& text) {
  struct stat st;
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  std::size_t done = 0;
  const int err = WriteAll(fd, text.data(), text.size(), &done);
  if (err != 0) {
    if (::ftruncate(fd, before) != 0) {
      // The cut line stays; a resume drops it.
    }
    throw IoError(file, 0, "cannot be written: " + ErrnoReason(err));
  }
  return before;
}

void CutBack(int fd, off_t size) {
  if (::ftruncate(fd, size) != 0) {
    // As above: a resume drops a line without its row.
  }
}

// The summary keys that make the table's columns, in their order.
const std::vector<std::string>& SummaryColumns() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::pair<int, std::string>> ranked;
    for (const SummaryKey& k : SummaryKeys()) {
      if (k.column > 0) ranked.emplace_back(k.column, k.key);
    }
    std::sort(ranked.begin(), ranked.end());
    std::vector<std::string> names;
    for (auto& [column, key] : ranked) names.push_back(std::move(key));
    return names;
  }();
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

SweepTable::SweepTable(std::string dir, std::vector<std::string> settingNames,
                       bool optimumColumns)
    : dir_(std::move(dir)), names_(std::move(settingNames)), optimumColumns_(optimumColumns) {}

SweepTable::~SweepTable() { CloseFiles(); }

void SweepTable::CloseFiles() {
  for (int* fd : {&jsonFd_, &csvFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

std::string SweepTable::Header() const {
  std::string h = "id";
  for (const std::string& n : names_) h += "," + CsvCell(SettingColumn(n));
  h += ",exitCode,error";
  for (const std::string& k : SummaryColumns()) h += "," + k;
  if (optimumColumns_) h += ",optimum.correctedFuelPer100km,optimumGap";
  return h + "\n";
}

std::string SweepTable::CsvRow(const std::vector<JsonValue>& flat) const {
  std::map<std::string, std::string> values;
  for (const JsonValue& v : flat) values[v.key] = v.text;
  auto value = [&](const std::string& key) {
    auto it = values.find(key);
    return it == values.end() || it->second == "null" ? std::string() : it->second;
  };
  std::string row = CsvCell(value("id"));
  for (const std::string& n : names_) row += "," + CsvCell(value("settings." + n));
  const std::string exitCode = value("exitCode");
  // (A row kept from before may hold any word as its exit code.)
  row += "," + CsvCell(exitCode) + "," + CsvCell(value("error"));
  // A failed run's figures stay empty: its partial run is no result.
  for (const std::string& k : SummaryColumns()) {
    row += "," + (exitCode == "0" ? CsvCell(value("summary." + k)) : std::string());
  }
  if (optimumColumns_) {
    row += "," + CsvCell(value("optimum.correctedFuelPer100km")) + "," +
           CsvCell(value("optimum.gap"));
  }
  return row + "\n";
}

std::string SweepTable::JsonRow(const SweepRun& run, const SweepOutcome& o) {
  const std::string summary = o.summary.empty() ? std::string("null") : o.summary;
  std::string json = "{\"id\": " + JsonString(run.id) + ", \"settings\": {" +
                     PlanText(run.settings) + "}, \"exitCode\": " + std::to_string(o.exitCode) +
                     ", \"error\": " + JsonString(o.error) + ", \"summary\": " +
                     (o.exitCode == 0 ? summary : "null");
  if (o.exitCode != 0) json += ", \"partialSummary\": " + summary;
  if (!o.optimum.empty()) json += ", \"optimum\": " + o.optimum;
  return json + "}\n";
}

std::set<std::string> SweepTable::Start(bool resume, const std::vector<SweepRun>& runs) {
  CloseFiles();
  std::vector<std::string> kept;
  std::set<std::string> ids;
  const std::string jsonl = dir_ + "/summary.jsonl";
  std::error_code ec;
  // (The name as the reader and the writer find it, letter case and all.)
  if (resume && fs::exists(ResolveCase(jsonl), ec)) {
    // The rows that came through whole, once each, of the runs planned: a
    // line cut by a failed write or a row written twice are dropped, and the
    // table is written anew from them.
    std::set<std::string> planned;
    for (const SweepRun& r : runs) planned.insert(r.id);
    const std::string bytes = ReadFileBytes(jsonl);
    RejectUtf16(jsonl, bytes);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = bytes.substr(start, end - start);
      auto flat = FlattenJson(line);
      if (!flat || flat->empty() || flat->front().key != "id") continue;
      const std::string& id = flat->front().text;
      if (!planned.count(id) || !ids.insert(id).second) continue;
      kept.push_back(line + "\n");
    }
  }
  std::string csv = Header(), json;
  for (const std::string& line : kept) {
    csv += CsvRow(*FlattenJson(line));
    json += line;
  }
  WriteFileAtomic(jsonl, json);
  WriteFileAtomic(dir_ + "/summary.csv", csv);
  return ids;
}

void SweepTable::Add(const SweepRun& run, const SweepOutcome& o) {
  const std::string json = JsonRow(run, o);
  const std::string csv = CsvRow(*FlattenJson(json));
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string jsonl = dir_ + "/summary.jsonl", table = dir_ + "/summary.csv";
  if (jsonFd_ < 0) jsonFd_ = OpenForAppending(jsonl);
  if (csvFd_ < 0) csvFd_ = OpenForAppending(table);
  const off_t before = AppendWhole(jsonFd_, jsonl, json);
  try {
    AppendWhole(csvFd_, table, csv);
  } catch (const IoError&) {
    CutBack(jsonFd_, before);  // both files hold the row, or neither
    throw;
  }
}

void SweepTable::WriteAll(const std::vector<std::string>& jsonRows) {
  CloseFiles();
  std::string csv = Header(), json;
  for (const std::string& line : jsonRows) {
    csv += CsvRow(*FlattenJson(line));
    json += line;
  }
  WriteFileAtomic(dir_ + "/summary.jsonl", json);
  WriteFileAtomic(dir_ + "/summary.csv", csv);
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
    // A run's id names its folder in runs/, which --collect reads and may
    // remove: an id that would leave that folder is no id.
    if (r.id == "." || r.id == ".." ||
        r.id.find_first_of(std::string("/\0", 2)) != std::string::npos) {
      throw IoError(file, lineNo,
                    "holds a run whose id \"" + Printable(r.id) + "\" is no folder name");
    }
    plan.runs.push_back(std::move(r));
  }
  if (plan.runs.empty()) throw IoError(file, 0, "holds no runs");
  return plan;
}

namespace {

// A plan as plan.jsonl holds it once read back: its texts as messages show
// them (JsonString writes them so), bytes that do not print as \xNN.
SweepPlan AsRecorded(const SweepPlan& plan) {
  SweepPlan p = plan;
  p.folder = Printable(p.folder);
  p.options = Printable(p.options);
  for (auto& [name, sha] : p.inputs) {
    name = Printable(name);
    sha = Printable(sha);
  }
  for (SweepRun& r : p.runs) {
    r.id = Printable(r.id);
    for (auto& [name, value] : r.settings) {
      name = Printable(name);
      value = Printable(value);
    }
  }
  return p;
}

}  // namespace

std::string PlanDifference(const SweepPlan& study, const SweepPlan& sweep) {
  // The sweep's plan compared as its own plan.jsonl would hold it.
  const SweepPlan now = AsRecorded(sweep);
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

StudyLock::StudyLock(const std::string& dir) {
  const std::string file = dir + "/lock";
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) throw IoError(file, 0, "cannot be made: " + ErrnoReason(errno));
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd_, F_OFD_SETLK, &lock) != 0) {
    const int err = errno;
    char holder[64] = {};
    const ssize_t n = ::pread(fd_, holder, sizeof holder - 1, 0);
    ::close(fd_);
    fd_ = -1;
    if (err == EAGAIN || err == EACCES) {
      std::string pid = n > 0 ? std::string(holder, static_cast<std::size_t>(n)) : "";
      while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
      throw IoError(dir, 0,
                    "is being written by another drivanto-sweep" +
                        (pid.empty() ? std::string() : " (process " + Printable(pid) + ")") +
                        "; wait until it ends, or give this sweep another --out");
    }
    if (err == EINVAL || err == ENOLCK || err == EOPNOTSUPP) return;  // no locks here
    throw IoError(file, 0, ErrnoReason(err));
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
    // The lock holds without the process named.
  }
}

StudyLock::~StudyLock() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

// A run's outcome as its folder holds it after its emitted command ran:
// nullopt while it has not run.
std::optional<SweepOutcome> OutcomeInFolder(const SweepRun& run, const std::string& runDir) {
  std::error_code ec;
  const std::string codeFile = runDir + "/exitcode";
  if (!fs::exists(codeFile, ec)) return std::nullopt;
  SweepOutcome o;
  auto text = [&](const std::string& name) {
    const std::string file = runDir + "/" + name;
    return fs::exists(file, ec) ? ReadFileBytes(file) : std::string();
  };
  std::string code = text("exitcode");
  while (!code.empty() && (code.back() == '\n' || code.back() == '\r' || code.back() == ' ')) {
    code.pop_back();
  }
  int64_t value = -1;
  const auto [end, errc] = std::from_chars(code.data(), code.data() + code.size(), value);
  if (errc != std::errc() || end != code.data() + code.size() || value < 0 || value > 255) {
    o.exitCode = 1;
    o.error = "drivanto-sweep: " + codeFile + ": \"" + Printable(code.substr(0, 40)) +
              "\" is no exit code (0 to 255)";
    return o;
  }
  o.exitCode = static_cast<int>(value);
  const std::string stdoutText = text("stdout.txt"), stderrText = text("stderr.txt");
  o.summary = o.exitCode == 0 ? JsonLine(stdoutText) : JsonLine(stderrText);
  if (o.exitCode == 0 && fs::exists(runDir + "/summary.json", ec)) {
    o.summary = JsonLine(text("summary.json"));
  }
  o.error = o.exitCode == 0 ? std::string() : ErrorText(stderrText);
  // Only a summary that reads as one goes into the table: read where it goes,
  // inside the run's row (an object one deeper, its keys the longer).
  if (!o.summary.empty() && !FlattenJson(SweepTable::JsonRow(run, o))) {
    o.summary.clear();
    if (o.exitCode == 0) {
      o.exitCode = 1;
      o.error = "drivanto-sweep: the run's summary in " + runDir + " cannot be read";
    }
  }
  if (o.exitCode == 0 && o.summary.empty()) {
    o.exitCode = 1;
    o.error = "drivanto-sweep: the run in " + runDir + " ended without its summary";
  }
  return o;
}

}  // namespace

int Collect(const std::string& dir, const std::string& keepRuns, std::ostream& out,
            std::ostream& err) {
  // The plan must read before anything is written.
  const std::vector<SweepRun> runs = ReadPlan(dir).runs;
  StudyLock lock(dir);
  // The rows the table holds now stay where a run's folder has no outcome
  // (a study made in process, a run not yet made).
  std::map<std::string, std::string> rows;
  std::error_code ec;
  // (The name as the reader and the writer find it, letter case and all: a
  // table of other letter case is the one the rows are written to.)
  if (fs::exists(ResolveCase(dir + "/summary.jsonl"), ec)) {
    const std::string bytes = ReadFileBytes(dir + "/summary.jsonl");
    RejectUtf16(dir + "/summary.jsonl", bytes);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = bytes.substr(start, end - start);
      auto flat = FlattenJson(line);
      if (flat && !flat->empty() && flat->front().key == "id") {
        rows.emplace(flat->front().text, line + "\n");
      }
    }
  }
  std::vector<std::string> table;
  std::vector<std::string> done;  // collected runs that ended well
  std::vector<std::string> failedIds;
  int missing = 0, failed = 0, collected = 0;
  for (const SweepRun& run : runs) {
    const std::optional<SweepOutcome> o = OutcomeInFolder(run, dir + "/runs/" + run.id);
    if (o) {
      ++collected;
      failed += o->exitCode != 0;
      (o->exitCode == 0 ? done : failedIds).push_back(run.id);
      table.push_back(SweepTable::JsonRow(run, *o));
    } else if (auto it = rows.find(run.id); it != rows.end()) {
      table.push_back(it->second);
    } else {
      ++missing;
    }
  }
  SweepTable(dir, SettingNames(runs)).WriteAll(table);
  // The rows are in the table: the folders may go.
  if (keepRuns != "all") {
    if (keepRuns == "none") done.insert(done.end(), failedIds.begin(), failedIds.end());
    for (const std::string& id : done) {
      std::error_code gone;
      fs::remove_all(dir + "/runs/" + id, gone);
    }
  }
  out << "collected " << collected << " of " << runs.size() << " runs into " << dir
      << "/summary.csv";
  if (table.size() > static_cast<std::size_t>(collected)) {
    out << " (" << table.size() - collected << " rows kept from before)";
  }
  if (failed) out << "; " << failed << " failed";
  out << "\n";
  if (missing) err << "drivanto-sweep: " << missing << " runs have not run yet\n";
  return (missing || failed) ? 1 : 0;
}

}  // namespace drivanto
