#pragma once
// Scenario runs of drivanto-batch in a private copy of the bundled data, and
// readers for what a run leaves behind: result files, snapshots and the JSON
// summary.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "TempFolder.h"
#include "cli/Batch.h"
#include "run/RunArgs.h"
#include "run/Runner.h"

namespace drivanto::testing {

using Args = std::vector<std::string>;

inline Args operator+(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "--set" pairs for the given NAME=VALUE texts.
inline Args Set(std::initializer_list<std::string> settings) {
  Args a;
  for (const std::string& s : settings) {
    a.push_back("--set");
    a.push_back(s);
  }
  return a;
}

// Follow the named time cycle with a fixed increment, without time limit.
inline Args TimeCycle(const std::string& file, const std::string& dt) {
  return Set({"cycleType=T", "Ttidd=" + file, "timeMode=D", "dt=" + dt, "fullTime=100000",
              "fullLength=10000000"});
}

// Follow the named map cycle with a fixed increment.
inline Args MapCycle(const std::string& file, const std::string& dt) {
  return Set({"cycleType=K", "Tkarta=" + file, "timeMode=D", "dt=" + dt, "fullTime=100000"});
}

// Keys typed at ticks: {tick, character}.
inline Args Keys(std::initializer_list<std::pair<int, std::string>> keys) {
  Args a;
  for (const auto& [tick, key] : keys) {
    a.push_back("--key");
    a.push_back(std::to_string(tick) + ":" + key);
  }
  return a;
}

// Columns of result file 1 and result file 2, counted from 0.
namespace r1 {
enum { nic, mic, U, P, Energi, acc, brake, Iaba, Pla, icEff, dv, v, vb, ltot, ttot };
}
namespace r2 {
enum { Pelm, nel, mel, Pgen, Pbroms, Preg, Ppic, nic, mic, Ila, CO, NOx, HC, dv, ttot };
}

// Snapshot lines (counted from 1) of the values the scenarios look at.
namespace snap {
enum {
  snapshotMark = 4,
  stegnr = 23,
  ttot = 32,
  dt = 34,
  clockNow = 35,
  ltot = 41,
  usedCapacity = 44,
  chargeState = 46,
  chargeManual = 47,
  modeNo = 56,
  styrmod = 59,
  cycleType = 63,
  accelSteps = 65,
  brakeSteps = 66,
  valueFileName = 98,
  fullTime = 112,
  cycleFileName = 147,
  slope = 150,
  ratio = 183,
  fuelLeft = 216,
  vb = 222,
  v = 225,
  brakeForce = 230,
  gear = 242,
  gearMode = 293,
  tangent = 299,
  roadAngle = 304
};
}

struct BatchResult {
  int code = -1;
  std::string out;
  std::string err;
};

using Rows = std::vector<std::vector<double>>;

// A JSON object on one line, its values by key; the keys of nested objects
// are joined with a point ("traceMiss.cycleDistance"). Strings lose their
// quotes (with \" and \\ undone); other values keep their text (null too).
inline std::map<std::string, std::string> ParseFlatJson(const std::string& text) {
  std::map<std::string, std::string> m;
  std::size_t i = 0;
  bool ok = true;
  auto quoted = [&](std::string* out) {
    if (i >= text.size() || text[i] != '"') return false;
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      *out += text[i];
    }
    if (i >= text.size()) return false;
    ++i;
    return true;
  };
  std::function<bool(const std::string&)> object = [&](const std::string& prefix) {
    if (i >= text.size() || text[i] != '{') return false;
    ++i;
    while (i < text.size() && text[i] != '}') {
      std::string key, value;
      if (!quoted(&key) || text.compare(i, 2, ": ") != 0) return false;
      i += 2;
      key = prefix + key;
      if (i < text.size() && text[i] == '{') {
        m[key] = "{}";
        if (!object(key + ".")) return false;
      } else if (i < text.size() && text[i] == '"') {
        if (!quoted(&value)) return false;
        m[key] = value;
      } else {
        const std::size_t end = text.find_first_of(",}", i);
        if (end == std::string::npos) return false;
        m[key] = text.substr(i, end - i);
        i = end;
      }
      if (text.compare(i, 2, ", ") == 0) i += 2;
    }
    if (i >= text.size()) return false;
    ++i;
    return true;
  };
  ok = object("") && text.compare(i, std::string::npos, "\n") == 0;
  if (!ok) ADD_FAILURE() << "not a JSON object on one line (at " << i << "): " << text;
  return m;
}

class BatchFolder {
 public:
  // A copy of the scenarios' inputs: the car, constants and cycles frozen in
  // tests/golden/data (the bundled default may change its settings), or of
  // another folder, such as the bundled data itself (DRIVANTO_TEST_DATA_DIR).
  explicit BatchFolder(const std::string& source = DRIVANTO_GOLDEN_DATA_DIR) {
    std::error_code ec;
    std::filesystem::copy(source, dir_.path(), std::filesystem::copy_options::recursive, ec);
    if (ec) ADD_FAILURE() << "cannot copy " << source << ": " << ec.message();
  }

  const std::string& path() const { return dir_.path(); }
  std::string operator/(std::string_view name) const { return dir_ / name; }
  std::string Write(std::string_view name, std::string_view text) const {
    return dir_.Write(name, text);
  }
  bool Exists(std::string_view name) const { return TempFolder::Exists(dir_ / name); }
  std::string Read(std::string_view name) const { return TempFolder::ReadBytes(dir_ / name); }

  // Runs drivanto-batch with this folder as the working folder.
  BatchResult Run(const Args& args) const {
    Args all = args;
    all.insert(all.begin(), dir_.path());
    return RunAsGiven(all);
  }

  static BatchResult RunAsGiven(const Args& args) {
    std::ostringstream out, err;
    BatchResult r;
    r.code = RunBatch(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  // The same run made through the run API (no JSON): the run's options as
  // drivanto-batch reads them, the folder this one; the run must end with
  // code 0. Its summary holds the figures as numbers, bit for bit.
  RunSummary RunModel(const Args& args) const {
    RunSpec runSpec;
    runSpec.folder = path();
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (!ParseRunOption(args, &i, &runSpec)) ADD_FAILURE() << "not a run's option: " << args[i];
    }
    const RunResult r = Runner().Run(runSpec);
    EXPECT_EQ(r.exitCode, 0) << r.error;
    return r.summary;
  }

  // Runs with --json and returns the summary; the run must end with code 0.
  std::map<std::string, std::string> RunJson(const Args& args) const {
    BatchResult r = Run(args + Args{"--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    return ParseFlatJson(r.out);
  }

  // The rows of a result file, after its two header lines.
  Rows ResultRows(std::string_view name) const {
    std::istringstream in(Read(name));
    std::string line;
    Rows rows;
    for (int n = 0; std::getline(in, line); ++n) {
      if (n < 2) continue;
      std::istringstream fields(line);
      std::vector<double> row;
      for (double x; fields >> x;) row.push_back(x);
      EXPECT_EQ(row.size(), 15u) << "row " << n - 1 << " of " << name << ": " << line;
      rows.push_back(row);
    }
    return rows;
  }

  // The lines of a snapshot, line 1 at index 1.
  std::vector<std::string> Snapshot(std::string_view name) const {
    std::vector<std::string> lines{""};
    std::string bytes = Read(name);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(bytes.substr(start, end - start));
    }
    EXPECT_EQ(start, bytes.size()) << name << " does not end with CR LF";
    // 1050 lines, and a strategy's three after them when the run had one.
    EXPECT_TRUE(lines.size() == 1051u || lines.size() == 1054u)
        << name << " holds " << lines.size() - 1 << " lines";
    lines.resize(std::max<std::size_t>(lines.size(), 1051));
    return lines;
  }
  double SnapshotNumber(std::string_view name, int line) const {
    return std::strtod(Snapshot(name)[line].c_str(), nullptr);
  }

 private:
  TempFolder dir_;
};

inline double Num(const std::map<std::string, std::string>& json, const std::string& key) {
  auto it = json.find(key);
  if (it == json.end()) {
    ADD_FAILURE() << "no " << key << " in the summary";
    return 0;
  }
  return std::strtod(it->second.c_str(), nullptr);
}

// True when the line reads completely as a number (a real of the snapshot).
inline bool IsNumberLine(const std::string& line) {
  if (line.empty()) return false;
  char* end = nullptr;
  std::strtod(line.c_str(), &end);
  return end == line.c_str() + line.size();
}

}  // namespace drivanto::testing
