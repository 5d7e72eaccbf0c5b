// Fuzzing of the table files. The bytes are one table file:
//  - TokenizeTable, checked against what its header promises of the tokens
//    and lines;
//  - the compiled tables no larger than the file calls for (a number of
//    numbers linear in its tokens);
//  - CompileTable1 and CompileTable2 for the numbers "0" to "3", "" and the
//    numbers the file's own headers give, and Lookup1/Lookup2 for many
//    arguments (key hits and their neighbours, values taken from the bytes,
//    0, -0, negative, tiny, huge, infinite, NaN), every mode ('i', '+', '-'
//    and others) and the columns 0 to 3, -1, 30, 31 and 40: each result and
//    each failure compared with the plain walk over the tokens of
//    tests/core/reference_tables.h (the same bits, or both NaN);
//  - for about one input in eight (by a hash of its bytes), the file on disk
//    through a TableCache: TABR1/TABR2 through sites, ERROR.TAB written into
//    the cache's error folder for a lookup outside its table, a name in other
//    letter case, a missing file, and the file rewritten in place (same size,
//    same second) between lookups through the same sites, which must see the
//    new bytes.
//
// The comparisons with the reference are budgeted by the size of the file
// (the reference walks the tokens at every lookup), so that an input takes
// milliseconds; which combinations are compared varies with the input.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/Text.h"
#include "core/reference_tables.h"
#include "data/CompiledTables.h"
#include "data/Tables.h"
#include "data/TableText.h"
#include "fuzz_support.h"

namespace {

using namespace drivanto;
using drivanto::fuzz::Fail;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char kModes[] = {'i', '+', '-', 'x', '\0', 'I'};
constexpr int kModeCount = sizeof kModes;
const int kColumns[] = {0, 1, 2, 3, -1, 40, kMaxTableColumns, kMaxTableColumns + 1};
constexpr int kColumnCount = sizeof kColumns / sizeof kColumns[0];

bool Same(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  uint64_t x, y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

std::string Show(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%.17g (0x%016llx)", x, static_cast<unsigned long long>(bits));
  return buf;
}

std::string ShowMode(char m) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "'\\x%02x'", static_cast<unsigned char>(m));
  return buf;
}

std::string ShowOutcome(bool ok, double value) { return ok ? Show(value) : "outside the table"; }

// ---- the tokens ----

bool IsTokenByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 43 && b <= 122;
}

// What TableText.h promises: tokens are runs of the bytes "+" to "z" within a
// line, in file order; lineStart indexes the first token of every line;
// endsLine, isHeader and isNumber say what the token's text says.
void CheckTokens(const TableFile& f) {
  const std::string& b = f.bytes;
  if (f.lineStart.empty() || f.lineStart.front() != 0 || f.lineStart.back() != f.tokens.size()) {
    Fail("lineStart does not run from 0 to the number of tokens");
  }
  uint32_t lineEnds = 0;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (b[i] == '\n' || (b[i] == '\r' && !(i + 1 < b.size() && b[i + 1] == '\n'))) ++lineEnds;
  }
  if (f.LineCount() != lineEnds + 1) {
    Fail("the tokenizer counts " + std::to_string(f.LineCount()) + " lines, the bytes have " +
         std::to_string(lineEnds + 1));
  }
  for (uint32_t l = 0; l < f.LineCount(); ++l) {
    if (f.lineStart[l] > f.lineStart[l + 1]) Fail("lineStart decreases at line " + std::to_string(l));
    for (uint32_t k = f.lineStart[l]; k < f.lineStart[l + 1]; ++k) {
      if (f.LineOf(k) != l) Fail("token " + std::to_string(k) + " lies outside its line");
    }
  }
  std::size_t previousEnd = 0;
  for (std::size_t k = 0; k < f.tokens.size(); ++k) {
    const TableToken& t = f.tokens[k];
    if (t.length == 0 || t.offset < previousEnd || t.offset + static_cast<std::size_t>(t.length) > b.size()) {
      Fail("token " + std::to_string(k) + " is empty, overlaps the one before or leaves the file");
    }
    previousEnd = t.offset + t.length;
    const std::string_view text = f.Text(t);
    for (char c : text) {
      if (!IsTokenByte(c)) Fail("token " + std::to_string(k) + " holds a byte outside \"+\" to \"z\"");
    }
    // The bytes around a token that ends where its run ends are not token bytes.
    if (k == 0 || f.tokens[k - 1].offset + f.tokens[k - 1].length != t.offset) {
      if (t.offset > 0 && IsTokenByte(b[t.offset - 1])) {
        Fail("token " + std::to_string(k) + " begins inside a run of token bytes");
      }
    }
    const std::size_t end = previousEnd;
    const bool endsLine = end == b.size() || b[end] == '\r' || b[end] == '\n';
    if (t.endsLine != endsLine) Fail("token " + std::to_string(k) + " has a wrong endsLine");
    const std::string_view head = text.substr(0, 3);
    const bool header = head == "tab" || head == "Tab" || head == "TAB";
    if (t.isHeader != header) Fail("token " + std::to_string(k) + " has a wrong isHeader");
    double value = 0;
    const bool number = IsPlainNumber(text, &value);
    if (t.isNumber != number || !Same(f.Value(t), value)) {
      Fail("token " + std::to_string(k) + " \"" + std::string(text) + "\" has a wrong number");
    }
  }
  // Every token byte belongs to a token.
  std::size_t covered = 0;
  for (const TableToken& t : f.tokens) covered += t.length;
  std::size_t tokenBytes = 0;
  for (char c : b) tokenBytes += IsTokenByte(c) ? 1 : 0;
  if (covered != tokenBytes) Fail("token bytes outside every token");
}

// ---- the size of the compiled tables ----

// A compiled table keeps the numbers of its rows as written; columns carried
// down over short rows are made only when a lookup asks for one. Its size
// must grow with the file, not faster: at most one number per token besides
// the keys. A table that carried a wide row's columns down through every
// short row would keep rows x columns numbers: a 60 KB file would need 340 MB.
void CheckCompiledSize(const TableFile& f, const TableRows& r, const std::string& number,
                       const char* what) {
  const std::size_t kept = r.keys.size() + r.values().size();
  const std::size_t bound = 2 * (f.tokens.size() + 1);
  if (kept > bound) {
    Fail(std::string(what) + " of table \"" + number + "\" keeps " + std::to_string(kept) +
         " numbers for a file of " + std::to_string(f.tokens.size()) + " tokens (" +
         std::to_string(r.keys.size()) + " rows, " + std::to_string(r.widest()) +
         " columns at most); at most " + std::to_string(bound) + " expected");
  }
}

// ---- what to look up ----

// "0" to "3", "" and the numbers the file's headers give (the token after a
// header word on its line).
std::vector<std::string> TableNumbers(const TableFile& f) {
  std::vector<std::string> numbers = {"0", "1", "2", "3", ""};
  for (std::size_t i = 0; i + 1 < f.tokens.size() && numbers.size() < 10; ++i) {
    if (!f.tokens[i].isHeader || f.LineOf(i + 1) != f.LineOf(i)) continue;
    std::string n(f.Text(f.tokens[i + 1]));
    if (std::find(numbers.begin(), numbers.end(), n) == numbers.end()) numbers.push_back(n);
  }
  return numbers;
}

void AddKeyArguments(std::vector<double>& args, const std::vector<double>& keys, std::size_t most) {
  if (keys.empty()) return;
  const std::size_t step = std::max<std::size_t>(1, keys.size() / most);
  for (std::size_t i = 0; i < keys.size(); i += step) {
    const double k = keys[i];
    args.push_back(k);
    args.push_back(std::nextafter(k, -kInf));
    args.push_back(std::nextafter(k, kInf));
    if (i + 1 < keys.size()) args.push_back(k + (keys[i + 1] - k) / 2);
  }
  args.push_back(keys.back());
  args.push_back(std::nextafter(keys.back(), kInf));
  args.push_back(-keys.back());
}

// At most this many arguments: the fixed ones, two from the bytes, and keys
// of the compiled tables with their neighbours.
constexpr std::size_t kMostArguments = 48;

std::vector<double> Arguments(const uint8_t* data, std::size_t size, const std::vector<Table1>& t1,
                              const std::vector<Table2>& t2) {
  std::vector<double> args = {0.0, -0.0, -1.0, -1e-300, 0.5, 1.0, 2.5, 100.0, 1e300, -1e300,
                              std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::denorm_min(), kInf, -kInf, kNaN};
  // Two values taken from the last bytes of the input, as they fall.
  for (std::size_t k = 1; k <= 2 && size >= 8 * k; ++k) {
    double x;
    std::memcpy(&x, data + size - 8 * k, sizeof x);
    args.push_back(x);
  }
  std::vector<double> keys;
  for (const Table1& t : t1) AddKeyArguments(keys, t.rows.keys, 4);
  for (const Table2& t : t2) {
    AddKeyArguments(keys, t.keys, 3);
    AddKeyArguments(keys, t.rows.keys, 3);
  }
  // Each value once (by its bits), then an even choice of what is left room for.
  std::vector<double> distinct;
  for (double k : keys) {
    if (std::none_of(distinct.begin(), distinct.end(), [&](double d) { return Same(d, k); })) {
      distinct.push_back(k);
    }
  }
  const std::size_t room = kMostArguments - args.size();
  for (std::size_t i = 0; i < std::min(room, distinct.size()); ++i) {
    args.push_back(distinct[i * distinct.size() / std::min(room, distinct.size())]);
  }
  return args;
}

// ---- the comparisons ----

void Compare1(const TableFile& f, const std::string& number, const Table1& t, char mode, double x,
              int column) {
  double got = 0, want = 0, hinted = 0;
  const bool okGot = Lookup1(t, mode, x, column, &got);
  const bool okWant = testing::ReferenceTABR1(f, number, mode, x, column, &want);
  // A hint left by any earlier lookup changes nothing.
  static LookupHint hint;
  if (Lookup1(t, mode, x, column, &hinted, &hint) != okGot || (okGot && !Same(hinted, got))) {
    Fail("Lookup1 with a hint differs: table \"" + number + "\", x " + Show(x));
  }
  if (okGot != okWant || (okGot && !Same(got, want))) {
    Fail("Lookup1 differs from the walk over the tokens: table \"" + number + "\", mode " +
         ShowMode(mode) + ", x " + Show(x) + ", column " + std::to_string(column) + ": compiled " +
         ShowOutcome(okGot, got) + ", walk " + ShowOutcome(okWant, want));
  }
}

void Compare2(const TableFile& f, const std::string& number, const Table2& t, char columnMode,
              char rowMode, double columnArg, double rowArg) {
  double got = 0, want = 0, hinted = 0;
  const bool okGot = Lookup2(t, columnMode, rowMode, columnArg, rowArg, &got);
  static LookupHint hint;
  if (Lookup2(t, columnMode, rowMode, columnArg, rowArg, &hinted, &hint) != okGot ||
      (okGot && !Same(hinted, got))) {
    Fail("Lookup2 with a hint differs: table \"" + number + "\", arguments " + Show(columnArg) +
         " / " + Show(rowArg));
  }
  const bool okWant =
      testing::ReferenceTABR2(f, number, columnMode, rowMode, columnArg, rowArg, &want);
  if (okGot != okWant || (okGot && !Same(got, want))) {
    Fail("Lookup2 differs from the walk over the tokens: table \"" + number + "\", modes " +
         ShowMode(columnMode) + " " + ShowMode(rowMode) + ", column argument " + Show(columnArg) +
         ", row argument " + Show(rowArg) + ": compiled " + ShowOutcome(okGot, got) + ", walk " +
         ShowOutcome(okWant, want));
  }
}

// Of `count` combinations, every step-th from `offset` is compared, so that
// about `walks` are.
struct Budget {
  std::size_t step = 1, offset = 0;
  Budget(std::size_t count, std::size_t walks, uint64_t hash) {
    step = std::max<std::size_t>(1, (count + walks - 1) / std::max<std::size_t>(1, walks));
    offset = static_cast<std::size_t>(hash % step);
  }
  bool Compare(std::size_t index) const { return index % step == offset; }
};

void CheckLookups(const TableFile& f, const uint8_t* data, std::size_t size, uint64_t hash) {
  const std::vector<std::string> numbers = TableNumbers(f);
  std::vector<Table1> t1;
  std::vector<Table2> t2;
  for (const std::string& n : numbers) {
    t1.push_back(CompileTable1(f, n));
    t2.push_back(CompileTable2(f, n));
    CheckCompiledSize(f, t1.back().rows, n, "CompileTable1");
    CheckCompiledSize(f, t2.back().rows, n, "CompileTable2");
    CheckCompiledSize(f, t2.back().rowsAfterHeader, n, "CompileTable2 (rows after the header)");
  }
  const std::vector<double> args = Arguments(data, size, t1, t2);
  // The reference walks up to every token at each lookup: some 150000 token
  // visits per kind of lookup and input.
  const std::size_t walks = std::clamp<std::size_t>(150000 / (f.tokens.size() + 32), 48, 3000);

  // One-dimensional lookups. A table the file does not hold is compared once.
  std::size_t count1 = 0;
  for (const Table1& t : t1) count1 += t.found ? args.size() * kColumnCount : 0;
  const Budget budget1(count1, walks, hash);
  std::size_t index = 0;
  for (std::size_t ni = 0; ni < numbers.size(); ++ni) {
    if (!t1[ni].found) {
      Compare1(f, numbers[ni], t1[ni], 'i', 1.0, 1);
      continue;
    }
    for (std::size_t xi = 0; xi < args.size(); ++xi) {
      for (int ci = 0; ci < kColumnCount; ++ci, ++index) {
        const char mode = kModes[(ni + xi + static_cast<std::size_t>(ci)) % kModeCount];
        if (budget1.Compare(index)) Compare1(f, numbers[ni], t1[ni], mode, args[xi], kColumns[ci]);
      }
    }
  }

  // Two-dimensional lookups: every pair of arguments, the modes in turn.
  std::size_t count2 = 0;
  for (const Table2& t : t2) count2 += t.found ? args.size() * args.size() : 0;
  const Budget budget2(count2, walks, hash >> 20);
  index = 0;
  for (std::size_t ni = 0; ni < numbers.size(); ++ni) {
    if (!t2[ni].found) {
      Compare2(f, numbers[ni], t2[ni], 'i', 'i', 1.0, 1.0);
      continue;
    }
    for (std::size_t ci = 0; ci < args.size(); ++ci) {
      for (std::size_t ri = 0; ri < args.size(); ++ri, ++index) {
        const char columnMode = kModes[(ni + ci) % kModeCount];
        const char rowMode = kModes[(ni + ci + ri / 3) % kModeCount];
        if (budget2.Compare(index)) {
          Compare2(f, numbers[ni], t2[ni], columnMode, rowMode, args[ci], args[ri]);
        }
      }
    }
  }
}

// ---- through the cache, on disk ----

struct Expected {
  bool ok;
  double value;
};

// One lookup through the cache against the compiled lookup of the bytes the
// file holds. A failed lookup must raise TableRangeError and leave both of
// its lines in ERROR.TAB. IoError is taken where the file's bytes are refused
// as a whole: then every lookup of that version must raise it, naming the file.
class CacheCheck {
 public:
  CacheCheck(const std::string& folder, uint64_t hash) : folder_(folder) {
    cache_.errorFolder = folder;
    cache_.notifications = (hash >> 8) & 1;
    cache_.enabled = ((hash >> 9) & 3) != 0;
  }

  void NewVersion() { refused_ = -1; }

  void Lookup1(const std::string& name, std::size_t site, const std::string& number,
               const Table1& t, char mode, double x, int column) {
    Expected e;
    e.ok = drivanto::Lookup1(t, mode, x, column, &e.value);
    RemoveErrorFile();
    try {
      const double got = TABR1(cache_, sites1_[site], name, number, mode, x, column);
      Check(e, true, got, "TABR1 " + number);
    } catch (const TableRangeError& err) {
      Check(e, false, 0, "TABR1 " + number);
      CheckErrorFile(err, name);
    } catch (const IoError& err) {
      Refused(err, name);
    }
  }

  void Lookup2(const std::string& name, std::size_t site, const std::string& number,
               const Table2& t, char columnMode, char rowMode, double columnArg, double rowArg) {
    Expected e;
    e.ok = drivanto::Lookup2(t, columnMode, rowMode, columnArg, rowArg, &e.value);
    RemoveErrorFile();
    try {
      const double got = TABR2(cache_, sites2_[site], name, number, columnMode, rowMode, columnArg, rowArg);
      Check(e, true, got, "TABR2 " + number);
    } catch (const TableRangeError& err) {
      Check(e, false, 0, "TABR2 " + number);
      CheckErrorFile(err, name);
    } catch (const IoError& err) {
      Refused(err, name);
    }
  }

  void Missing() {
    const std::string name = folder_ + "/MISSING.TAB";
    try {
      TABR1(cache_, name, "1", 'i', 1.0, 1);
      Fail("TABR1 on a missing file gave a value");
    } catch (const IoError&) {
    } catch (const TableRangeError&) {
      Fail("TABR1 on a missing file raised a range error instead of an input/output error");
    }
  }

  static constexpr std::size_t kSites = 3;

 private:
  void Check(const Expected& e, bool ok, double got, const std::string& what) {
    if (refused_ == 1) Fail(what + ": a version of the file refused before was read this time");
    refused_ = 0;
    if (e.ok != ok || (ok && !Same(e.value, got))) {
      Fail(what + " through the cache differs from the lookup in the file's bytes: cache " +
           ShowOutcome(ok, got) + ", bytes " + ShowOutcome(e.ok, e.value));
    }
  }
  void Refused(const IoError& err, const std::string& name) {
    if (refused_ == 0) Fail("a version of the file read before is refused now: " + std::string(err.what()));
    refused_ = 1;
    if (err.file() != name) Fail("IoError names " + err.file() + " instead of " + name);
  }
  void RemoveErrorFile() { ::unlink((folder_ + "/ERROR.TAB").c_str()); }
  void CheckErrorFile(const TableRangeError& err, const std::string& name) {
    if (err.line1().find(name) == std::string::npos) {
      Fail("the range error does not name the file: " + err.line1());
    }
    bool exists = false;
    const std::string text = fuzz::ReadBytes(folder_ + "/ERROR.TAB", &exists);
    const std::string want = Utf8ToCp437(err.line1()) + "\r\n" + Utf8ToCp437(err.line2()) + "\r\n";
    if (!exists || text != want) Fail("ERROR.TAB does not hold the two lines of the range error");
  }

  std::string folder_;
  TableCache cache_;
  TableSite sites1_[kSites], sites2_[kSites];
  int refused_ = -1;  // -1 not known yet, 0 read, 1 refused
};

// The second version of the file: every "1" becomes "2" and back, same size,
// written over the first in place, so only the bytes tell them apart.
std::string SecondVersion(std::string bytes) {
  for (char& c : bytes) {
    if (c == '1') c = '2';
    else if (c == '2') c = '1';
  }
  return bytes;
}

void ThroughCache(const std::string& bytes, const uint8_t* data, std::size_t size, uint64_t hash) {
  static fuzz::PrivateFolder folder("tables");
  const std::string file = folder.path() + "/FUZZ.TAB";
  // The same file under a name in other letter case, found by ResolveCase.
  const std::string otherCase = folder.path() + "/fuzz.tab";
  CacheCheck check(folder.path(), hash);
  const std::string versions[2] = {bytes, SecondVersion(bytes)};
  for (const std::string& v : versions) {
    fuzz::WriteBytes(file, v);
    check.NewVersion();
    const TableFile f = TokenizeTable(v);
    const std::vector<std::string> all = TableNumbers(f);
    // Up to three tables of the file, each compiled once for its expected values.
    std::vector<std::string> numbers;
    for (std::size_t k = 0; k < 3; ++k) numbers.push_back(all[(hash / 3 + k * 2) % all.size()]);
    std::vector<Table1> t1;
    std::vector<Table2> t2;
    for (const std::string& n : numbers) {
      t1.push_back(CompileTable1(f, n));
      t2.push_back(CompileTable2(f, n));
    }
    const std::vector<double> args = Arguments(data, size, t1, t2);
    // A handful of lookups per version: each failed one writes ERROR.TAB.
    for (std::size_t k = 0; k < 6; ++k) {
      const std::size_t ni = (hash + k) % numbers.size();
      const double x = args[(hash / 7 + k * 5) % args.size()];
      const double y = args[(hash / 11 + k * 3) % args.size()];
      const std::string& name = (k % 3 == 2) ? otherCase : file;
      if (k % 2 == 0) {
        check.Lookup1(name, ni, numbers[ni], t1[ni], kModes[k % kModeCount], x, kColumns[k % kColumnCount]);
      } else {
        check.Lookup2(name, ni, numbers[ni], t2[ni], kModes[k % kModeCount], kModes[(k + 1) % kModeCount], x, y);
      }
    }
  }
  check.Missing();
  ::unlink(file.c_str());
  ::unlink((folder.path() + "/ERROR.TAB").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const uint64_t hash = fuzz::Hash(data, size);
  const TableFile f = TokenizeTable(bytes);
  CheckTokens(f);
  CheckLookups(f, data, size, hash);
  if (hash % 8 == 0) ThroughCache(bytes, data, size, hash);
  return 0;
}
