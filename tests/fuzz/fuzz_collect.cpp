// Fuzzing of what drivanto-sweep reads back from a study's folder when it
// gathers the runs' rows (--collect DIR) or takes a study up again
// (--resume): the plan (plan.jsonl), each run's exitcode, stdout.txt,
// stderr.txt and summary.json, and the table it holds (summary.jsonl,
// summary.csv).
//
// The bytes are the study's files (SplitParts): the bytes before the first
// line "### NAME" are plan.jsonl, each "### NAME" begins the file NAME of the
// study's folder (a name kept inside it: ConfineRelative), e.g.
// "### runs/run001/exitcode". The seeds' plans were made for the folder
// kSeedFolder; it stands for a private working copy of the bundled data.
// Most inputs are collected (RunSweep {"--collect", DIR}, about one in eight
// with --keep-runs failed and one in eight with none); about one in four
// whose plan reads and holds at most eight runs resumes the study instead,
// with a table of runs made of the plan's runs and --max-steps 20, the
// options of the seeds' studies (a study of other options, inputs or
// folder is refused as another study).
//
// Checked: no crash, no exception out of RunSweep, exit code 0 or 1 (2 too
// for a resume: a study it does not take up); messages in clean text; a
// plan that does not read leaves summary.csv and summary.jsonl byte for
// byte as they were (and so does a refused resume); once written, every
// line of summary.jsonl reads (FlattenJson) as a row whose first value is
// the id of a run of the plan, summary.csv has its header and one row of as
// many cells for every line of summary.jsonl (cells with commas, quotes or
// line ends quoted); a collect keeps the first whole row of every run of
// the plan whose folder holds no exit code, and when it ends well has a row
// for every run of the plan; a resume has one row for every run, once. The
// table's files are found as the program finds them: summary.jsonl may be a
// file whose name differs only in letter case (ResolveCase). Nothing outside the
// study's folder is written or removed: the data copy stays as it was, and
// so does a folder beside the study's ("keep", which a run named
// "../../keep" would reach).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "base/Errors.h"
#include "base/Files.h"
#include "fuzz_support.h"
#include "study/Json.h"
#include "study/Sweep.h"
#include "study/SweepTable.h"

namespace {

using namespace drivanto::fuzz;
namespace fs = std::filesystem;

// A file of the study as the input gives it; a name that cannot be a file
// (one that a folder of the input already holds, or inside a file) is left
// out.
void WriteStudyFile(const std::string& study, const std::string& name, const std::string& bytes) {
  const std::string inside = ConfineRelative(name);
  if (inside.empty()) return;
  const fs::path path = fs::path(study) / inside;
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec || fs::is_directory(path, ec)) return;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ::close(fd);
  WriteBytes(path.string(), bytes);
}

// A file's bytes, or nullopt when there is none. The name is taken as the
// program takes it: a file whose name differs only in letter case stands
// for it (ResolveCase).
std::optional<std::string> Content(const std::string& file) {
  bool exists = false;
  std::string bytes = ReadBytes(drivanto::ResolveCase(file), &exists);
  if (!exists) return std::nullopt;
  return bytes;
}

// The records of a CSV file as a spreadsheet reads them: cells between
// commas, records between line feeds; a cell that begins with a quote runs
// to the next quote that is not doubled, line ends and commas inside it. A
// quote or a carriage return in a cell that is not quoted fails.
std::vector<std::vector<std::string>> CsvRecords(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::size_t i = 0;
  while (i < text.size()) {
    std::vector<std::string> cells;
    for (;;) {
      std::string cell;
      if (i < text.size() && text[i] == '"') {
        ++i;
        for (;;) {
          if (i >= text.size()) Fail("summary.csv ends inside a quoted cell");
          if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
              cell += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          cell += text[i++];
        }
        if (i < text.size() && text[i] != ',' && text[i] != '\n') {
          Fail("summary.csv: a quoted cell followed by \"" + text.substr(i, 20) + "\"");
        }
      } else {
        while (i < text.size() && text[i] != ',' && text[i] != '\n') {
          if (text[i] == '"' || text[i] == '\r') {
            Fail("summary.csv: a cell that is not quoted holds a quote or a carriage return: \"" +
                 text.substr(i > 40 ? i - 40 : 0, 80) + "\"");
          }
          cell += text[i++];
        }
      }
      cells.push_back(std::move(cell));
      if (i >= text.size() || text[i] == '\n') {
        ++i;
        break;
      }
      ++i;  // the comma
    }
    records.push_back(std::move(cells));
  }
  return records;
}

// The table the study holds, checked against its plan and the table it
// held before (`before`): a collect keeps the first whole row of a run of the
// plan whose folder has no exit code.
void CheckTable(const std::string& study, const std::vector<drivanto::SweepRun>& runs, bool resume,
                bool endedWell, const std::optional<std::string>& before,
                const std::set<std::string>& withExitCode) {
  std::set<std::string> planned;
  for (const drivanto::SweepRun& r : runs) planned.insert(r.id);
  const std::optional<std::string> jsonl = Content(study + "/summary.jsonl");
  const std::optional<std::string> csv = Content(study + "/summary.csv");
  if (!jsonl || !csv) Fail("the table was written without summary.jsonl or summary.csv");
  if (!jsonl->empty() && jsonl->back() != '\n') Fail("summary.jsonl ends inside a line");
  std::vector<std::string> ids;
  std::size_t start = 0;
  for (std::size_t end; (end = jsonl->find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = jsonl->substr(start, end - start);
    const auto flat = drivanto::FlattenJson(line);
    if (!flat) Fail("a line of summary.jsonl does not read: " + line);
    if (flat->empty() || flat->front().key != "id")
      Fail("a line of summary.jsonl without its id first: " + line);
    if (!planned.count(flat->front().text)) Fail("a row of a run the plan does not hold: " + line);
    ids.push_back(flat->front().text);
  }
  const auto records = CsvRecords(*csv);
  if (records.empty() || records[0].empty() || records[0][0] != "id") {
    Fail("summary.csv without its header:\n" + csv->substr(0, 200));
  }
  if (records.size() != ids.size() + 1) {
    Fail("summary.csv holds " + std::to_string(records.size() - 1) + " rows, summary.jsonl " +
         std::to_string(ids.size()));
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    if (records[r].size() != records[0].size()) {
      Fail("row " + std::to_string(r) + " of summary.csv has " + std::to_string(records[r].size()) +
           " cells, the header " + std::to_string(records[0].size()));
    }
  }
  if (!resume && before) {
    std::set<std::string> seen;
    std::size_t from = 0;
    for (std::size_t end; (end = before->find('\n', from)) != std::string::npos; from = end + 1) {
      const std::string line = before->substr(from, end - from);
      const auto flat = drivanto::FlattenJson(line);
      if (!flat || flat->empty() || flat->front().key != "id") continue;
      const std::string& id = flat->front().text;
      if (!planned.count(id) || !seen.insert(id).second) continue;
      if (withExitCode.count(id)) continue;
      if (("\n" + *jsonl).find("\n" + line + "\n") == std::string::npos) {
        Fail("the row of run " + id + ", which has no exit code to collect, was not kept: " + line);
      }
    }
  }
  const std::set<std::string> rowIds(ids.begin(), ids.end());
  if (resume) {
    if (rowIds.size() != ids.size()) Fail("a resumed study's table holds a run twice");
    if (endedWell && rowIds != planned) Fail("a resumed study that ended well lacks rows of runs");
  } else if (endedWell && (rowIds != planned || ids.size() != runs.size())) {
    Fail("a collect that ended well holds " + std::to_string(ids.size()) + " rows for " +
         std::to_string(runs.size()) + " runs of the plan");
  }
}

// The table of runs that makes the plan's runs again.
std::string TableOf(const std::vector<drivanto::SweepRun>& runs) {
  const std::vector<std::string> names = drivanto::SettingNames(runs);
  std::string t = "id";
  for (const std::string& n : names) t += "," + n;
  t += "\n";
  for (const drivanto::SweepRun& r : runs) {
    t += r.id;
    for (const std::string& n : names) {
      t += ",";
      for (const auto& [name, value] : r.settings) {
        if (name == n) {
          t += value;
          break;
        }
      }
    }
    t += "\n";
  }
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PrivateFolder folder("collect");
  const std::string study = folder.path() + "/study";
  const std::string keep = folder.path() + "/keep";
  const std::string runsTable = folder.path() + "/runs.csv";
  static const std::string kKept = "a folder beside the study's\n";
  std::error_code ec;
  fs::remove_all(study, ec);
  fs::remove(runsTable, ec);
  fs::create_directories(study, ec);
  fs::create_directories(keep, ec);
  WriteBytes(keep + "/exitcode", "0\n");
  WriteBytes(keep + "/kept.txt", kKept);

  const uint64_t hash = Hash(data, size);
  const std::vector<Part> parts =
      SplitParts(std::string_view(reinterpret_cast<const char*>(data), size));
  WriteBytes(study + "/plan.jsonl", WithFolder(parts[0].bytes, Data().path()));
  for (std::size_t i = 1; i < parts.size(); ++i)
    WriteStudyFile(study, parts[i].name, parts[i].bytes);

  std::optional<std::vector<drivanto::SweepRun>> runs;
  try {
    runs = drivanto::ReadPlan(study).runs;
  } catch (const drivanto::IoError&) {
    // Collect must refuse it too, and change nothing.
  }
  // The runs whose folders hold an exit code to collect (before a collect
  // may remove them).
  std::set<std::string> withExitCode;
  if (runs) {
    for (const drivanto::SweepRun& r : *runs) {
      if (fs::exists(study + "/runs/" + r.id + "/exitcode", ec)) withExitCode.insert(r.id);
    }
  }
  const std::optional<std::string> jsonlBefore = Content(study + "/summary.jsonl");
  const std::optional<std::string> csvBefore = Content(study + "/summary.csv");

  const bool resume = runs && runs->size() <= 8 && hash % 4 == 0;
  std::vector<std::string> args;
  if (resume) {
    WriteBytes(runsTable, TableOf(*runs));
    args = {Data().path(), "--out",       study, "--runs", runsTable,
            "--resume",    "--max-steps", "20",  "-j",     "1"};
  } else {
    args = {"--collect", study};
    if ((hash >> 2) % 8 == 0) args.insert(args.end(), {"--keep-runs", "failed"});
    if ((hash >> 2) % 8 == 1) args.insert(args.end(), {"--keep-runs", "none"});
  }

  std::ostringstream out, err;
  int code = -1;
  try {
    code = drivanto::RunSweep(args, out, err);
  } catch (const std::exception& e) {
    Fail(std::string("an exception left RunSweep: ") + typeid(e).name() + ": " + e.what());
  }
  static const bool verbose = std::getenv("DRIVANTO_FUZZ_VERBOSE") != nullptr;
  if (verbose) {
    std::fprintf(stderr, "%s, exit code %d\n%s%s", resume ? "resume" : "collect", code,
                 out.str().c_str(), Escaped(err.str()).c_str());
  }
  if (code != 0 && code != 1 && !(resume && code == 2)) {
    Fail("RunSweep returned " + std::to_string(code) + ":\n" + err.str());
  }
  // (A resume's progress bar goes back to the start of its line.)
  std::string messages = err.str();
  if (resume) messages.erase(std::remove(messages.begin(), messages.end(), '\r'), messages.end());
  if (!IsCleanText(messages)) Fail("the sweep's messages are not clean text:\n" + err.str());

  // Nothing outside the study's folder.
  const std::string changes = Data().Changes();
  if (!changes.empty()) Fail("the sweep changed the data folder:" + changes);
  if (ReadBytes(keep + "/kept.txt") != kKept || ReadBytes(keep + "/exitcode") != "0\n") {
    Fail("the sweep changed or removed the folder beside the study's");
  }
  for (const auto& e : fs::directory_iterator(folder.path(), ec)) {
    const std::string name = e.path().filename().string();
    if (name != "study" && name != "keep" && name != "runs.csv")
      Fail("the sweep wrote " + name + " beside the study");
  }

  const std::optional<std::string> jsonlAfter = Content(study + "/summary.jsonl");
  const std::optional<std::string> csvAfter = Content(study + "/summary.csv");
  const bool unchanged = jsonlAfter == jsonlBefore && csvAfter == csvBefore;
  if (!runs || (resume && code == 2)) {
    if (!unchanged) {
      Fail(std::string(runs ? "a refused resume" : "a plan that does not read") +
           " changed summary.jsonl or summary.csv:\n" + err.str());
    }
    if (!runs && code == 0) Fail("a plan that does not read was collected");
  } else if (code == 0 || !unchanged) {
    CheckTable(study, *runs, resume, code == 0, jsonlBefore, withExitCode);
  }
  Data().Restore();
  return 0;
}
