// Fuzzing of what drivanto-sweep reads to plan a study: a table of runs
// (--runs FILE.csv) and the values of a grid (--grid NAME=V1,V2,... and
// --grid NAME=FROM:TO:STEP). The bytes are either
//  - arguments of --grid, when they begin with "--grid ": each piece between
//    the line feeds that come before "--grid " is one argument (what follows
//    "--grid "), cut at a NUL byte as a command line would; or
//  - the table of runs FUZZ.CSV.
// RunSweep plans the study over a private working copy of the bundled data
// with --emit-jobs, so that no run is made: it writes the plan, the emitted
// commands and the study's lock into a private folder.
//
// Checked: the exit code is 0 or 2, or 1 where the table cannot be read (its
// message names it); every message is clean text (control bytes and bytes
// that are not UTF-8 shown as \xNN); a refused table is named with a line of
// it and, where the line has as many cells as the header (a cell is wrong,
// not the line), the column, unless the id is wrong (the first cell: not
// "id" in the header, else no id or one of a line before); nothing is written outside the study's
// folder and the commands' file (the data copy stays as it was, the study's folder holds its plan,
// its lock and an empty folder of runs), and nothing at all when the plan is refused. A planned
// study holds at most 100000 runs, as many commands as runs, and its plan reads back (ReadPlan)
// with the runs of the table (their ids, settings in order, values as a message shows them) or one
// setting a grid argument, in their order. About one planned study in four is planned again with
// --resume, which must take it as the same study.
//
// A grid of more than 100000 runs must be refused before it is made:
// libFuzzer's limits on memory and time catch one that is not. A grid within
// that limit but of more than 2000 runs (counted as the sweep counts them:
// FROM:TO:STEP gives floor((TO - FROM) / STEP + 1e-9) + 1 values, a list its
// commas and one) is left out: planning 100000 runs takes a second, under
// the sanitizers and with the plan read back a minute, and says nothing
// new.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "fuzz_support.h"
#include "study/Sweep.h"
#include "study/SweepTable.h"

namespace {

using namespace drivanto::fuzz;
using drivanto::SplitAt;
namespace fs = std::filesystem;

constexpr std::size_t kMostRuns = 100000;

std::vector<std::string> GridArguments(std::string_view bytes) {
  constexpr std::string_view kGrid = "--grid ";
  std::vector<std::string> args;
  std::size_t start = kGrid.size();
  for (;;) {
    const std::size_t next = bytes.find(std::string("\n").append(kGrid), start);
    std::string arg(bytes.substr(
        start, next == std::string_view::npos ? std::string_view::npos : next - start));
    if (const std::size_t nul = arg.find('\0'); nul != std::string::npos) arg.resize(nul);
    args.push_back(arg);
    if (next == std::string_view::npos) return args;
    start = next + 1 + kGrid.size();
  }
}

// The runs of a grid as the sweep counts them (a range that is none counts
// as one value: the sweep refuses it).
double GridSize(const std::vector<std::string>& grid) {
  double size = 1;
  for (const std::string& g : grid) {
    const std::string text =
        g.substr(g.find('=') == std::string::npos ? g.size() : g.find('=') + 1);
    const std::vector<std::string> range = SplitAt(text, ':');
    double count = 1;
    if (range.size() == 3) {
      bool a = false, b = false, c = false;
      const double from = drivanto::ParseNumberPrefix(range[0], &a),
                   to = drivanto::ParseNumberPrefix(range[1], &b),
                   step = drivanto::ParseNumberPrefix(range[2], &c);
      if (a && b && c && step > 0 && to >= from && (to - from) / step <= kMostRuns) {
        count = std::floor((to - from) / step + 1e-9) + 1;
      }
    } else {
      count = static_cast<double>(std::count(text.begin(), text.end(), ',')) + 1;
    }
    size *= count;
  }
  return size;
}

// What is in a folder: the names relative to it, folders ending in "/".
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    names.push_back(fs::relative(it->path(), folder).string() + (it->is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string t;
  for (const std::string& n : names) t += " " + n;
  return t;
}

// A number after `word` in the text, or -1.
long long NumberAfter(const std::string& text, const std::string& word) {
  const std::size_t at = text.find(word);
  if (at == std::string::npos) return -1;
  const std::size_t from = at + word.size();
  std::size_t end = from;
  while (end < text.size() && end - from < 12 && text[end] >= '0' && text[end] <= '9') ++end;
  return end > from ? std::stoll(text.substr(from, end - from)) : -1;
}

bool IsRunId(const std::string& id) {
  if (id.empty() || id.size() > 100) return false;
  for (char c : id) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letter && c != '-' && c != '_') return false;
  }
  return true;
}

// A refused table is named with a line, and a column where the line has
// the header's cells (but for the id, which the message names).
void CheckTableRefusal(const std::string& csv, const std::string& bytes,
                       const std::string& message) {
  const std::string head = "drivanto-sweep: " + csv;
  if (message.rfind(head, 0) != 0)
    Fail("the refusal of the table does not name it first:\n" + message);
  const std::vector<RawLine> lines = SplitRaw(bytes);
  bool rows = false;
  for (std::size_t i = 1; i < lines.size(); ++i) rows = rows || !lines[i].text.empty();
  const std::string rest = message.substr(head.size());
  if (rest.rfind(", line ", 0) != 0) {
    // Only a table without rows is refused as a whole.
    if (rows) Fail("the refusal of a table with rows names no line:\n" + message);
    return;
  }
  const long long line = NumberAfter(rest, ", line ");
  if (line < 1 || static_cast<std::size_t>(line) > lines.size()) {
    Fail("the refusal names line " + std::to_string(line) + " of a table of " +
         std::to_string(lines.size()) + " lines:\n" + message);
  }
  const std::size_t cells = SplitAt(lines[static_cast<std::size_t>(line - 1)].text, ',').size();
  const std::size_t headerCells = SplitAt(lines[0].text, ',').size();
  const std::string lineText = ", line " + std::to_string(line);
  const bool column = rest.compare(lineText.size(), 9, ", column ") == 0;
  if (column) {
    const long long c = NumberAfter(rest.substr(lineText.size()), ", column ");
    if (c < 1 || static_cast<std::size_t>(c) > cells) {
      Fail("the refusal names column " + std::to_string(c) + " of a line of " +
           std::to_string(cells) + " cells:\n" + message);
    }
  } else if (line == 1 || cells == headerCells) {
    // A cell is wrong: without a column, only the id's (the first column,
    // which the message calls the id): not "id" in the header, else no id
    // (letters, digits, - and _, 1 to 100 of them) or one of a line before.
    const std::string id = SplitAt(lines[static_cast<std::size_t>(line - 1)].text, ',')[0];
    bool idWrong = line == 1 ? id != "id" : !IsRunId(id);
    for (long long n = 2; n < line && !idWrong; ++n) {
      const std::string& before = lines[static_cast<std::size_t>(n - 1)].text;
      idWrong = !before.empty() && SplitAt(before, ',')[0] == id;
    }
    if (!idWrong) {
      Fail("the refusal of a cell of a line of " + std::to_string(cells) +
           " cells (the header has as many) names no column, and the line's id is right:\n" +
           message);
    }
  }
}

// The plan of a study that was made holds its runs.
void CheckPlan(const std::string& study, const std::string& jobs, const std::string& out,
               bool table, const std::string& bytes, const std::vector<std::string>& grid) {
  const long long commands = NumberAfter(out, "wrote ");
  const std::string jobText = ReadBytes(jobs);
  std::size_t jobLines = 0;
  for (char c : jobText) jobLines += c == '\n';
  if (commands < 0 || static_cast<std::size_t>(commands) != jobLines) {
    Fail("the sweep says it wrote " + std::to_string(commands) + " commands, the file holds " +
         std::to_string(jobLines) + ":\n" + out);
  }
  drivanto::SweepPlan plan;
  try {
    plan = drivanto::ReadPlan(study);
  } catch (const drivanto::IoError& e) {
    Fail(std::string("the plan the sweep wrote does not read: ") + e.what());
  }
  if (plan.runs.size() != jobLines || plan.runs.size() > kMostRuns) {
    Fail("a plan of " + std::to_string(plan.runs.size()) + " runs and " + std::to_string(jobLines) +
         " commands");
  }
  if (table) {
    const std::vector<RawLine> lines = SplitRaw(bytes);
    const std::vector<std::string> header = SplitAt(lines[0].text, ',');
    std::size_t k = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      if (lines[i].text.empty()) continue;
      const std::vector<std::string> cells = SplitAt(lines[i].text, ',');
      if (k >= plan.runs.size()) Fail("the plan holds fewer runs than the table");
      const drivanto::SweepRun& r = plan.runs[k++];
      if (r.id != cells[0] || r.settings.size() + 1 != header.size()) {
        Fail("run " + std::to_string(k) + " of the plan is " + r.id + " with " +
             std::to_string(r.settings.size()) + " settings; the table's line " +
             std::to_string(i + 1) + " has " + cells[0]);
      }
      for (std::size_t c = 1; c < header.size(); ++c) {
        const auto& [name, value] = r.settings[c - 1];
        if (name != header[c] || value != drivanto::Printable(cells[c])) {
          Fail("run " + r.id + " of the plan sets " + name + "=" + value + ", the table " +
               header[c] + "=" + drivanto::Printable(cells[c]));
        }
      }
    }
    if (k != plan.runs.size()) Fail("the plan holds more runs than the table");
  } else {
    for (const drivanto::SweepRun& r : plan.runs) {
      if (r.settings.size() != grid.size()) {
        Fail("run " + r.id + " of the plan has " + std::to_string(r.settings.size()) +
             " settings, the grid " + std::to_string(grid.size()));
      }
      for (std::size_t g = 0; g < grid.size(); ++g) {
        if (r.settings[g].first != grid[g].substr(0, grid[g].find('='))) {
          Fail("run " + r.id + " of the plan sets " + r.settings[g].first +
               " where the grid sets " + grid[g]);
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PrivateFolder folder("sweep");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string study = folder.path() + "/study";
  const std::string jobs = folder.path() + "/jobs.txt";
  const std::string csv = folder.path() + "/FUZZ.CSV";
  std::error_code ec;
  fs::remove_all(study, ec);
  fs::remove(jobs, ec);
  fs::remove(csv, ec);

  const bool table = bytes.substr(0, 7) != "--grid ";
  std::vector<std::string> args = {Data().path(), "--out", study, "--emit-jobs", jobs, "-j", "1"};
  std::vector<std::string> grid;
  if (table) {
    WriteBytes(csv, bytes);
    args.insert(args.end(), {"--runs", csv});
  } else {
    grid = GridArguments(bytes);
    const double size = GridSize(grid);
    if (size > 2000 && size <= kMostRuns) return 0;
    for (const std::string& g : grid) args.insert(args.end(), {"--grid", g});
  }

  auto sweep = [&](const std::vector<std::string>& a, std::string* out, std::string* err) {
    std::ostringstream o, e;
    int code = -1;
    try {
      code = drivanto::RunSweep(a, o, e);
    } catch (const std::exception& x) {
      Fail(std::string("an exception left RunSweep: ") + typeid(x).name() + ": " + x.what());
    }
    *out = o.str();
    *err = e.str();
    if (!IsCleanText(*err)) Fail("the sweep's message is not clean text:\n" + *err);
    if (code != 0 && err->rfind("drivanto-sweep: ", 0) != 0) {
      Fail("the sweep ended with code " + std::to_string(code) + " without its message:\n" + *err);
    }
    const std::string changes = Data().Changes();
    if (!changes.empty()) Fail("the sweep changed its input folder:" + changes);
    return code;
  };

  std::string out, err;
  const int code = sweep(args, &out, &err);
  const std::vector<std::string> inside = Listing(folder.path());
  if (code == 0) {
    const std::vector<std::string> expected = {"FUZZ.CSV",   "jobs.txt",         "study/",
                                               "study/lock", "study/plan.jsonl", "study/runs/"};
    for (const std::string& n : inside) {
      if (std::find(expected.begin(), expected.end(), n) == expected.end()) {
        Fail("the sweep wrote " + n + " beside its study; the private folder holds" +
             Joined(inside));
      }
    }
    CheckPlan(study, jobs, out, table, std::string(bytes), grid);
    if (Hash(data, size) % 4 == 0) {
      std::vector<std::string> again = args;
      again.push_back("--resume");
      std::string out2, err2;
      const int code2 = sweep(again, &out2, &err2);
      if (code2 != 0) {
        Fail("the study planned again with --resume is not the same study (code " +
             std::to_string(code2) + "):\n" + err2);
      }
    }
  } else {
    if (code != 1 && code != 2) Fail("RunSweep returned " + std::to_string(code) + ":\n" + err);
    if (code == 1 && (!table || err.rfind("drivanto-sweep: " + csv + ": ", 0) != 0)) {
      Fail("the sweep ended with code 1, not for its table of runs:\n" + err);
    }
    for (const std::string& n : inside) {
      if (n != "FUZZ.CSV") Fail("a refused sweep wrote " + n + ":\n" + err);
    }
    if (code == 2 && table) CheckTableRefusal(csv, std::string(bytes), err);
  }
  Data().Restore();
  return 0;
}
