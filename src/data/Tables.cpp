#include "data/Tables.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <fstream>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"

namespace drivanto {

namespace {

constexpr std::size_t kMaxTokenLength = 250;
constexpr int kMaxColumns = 30;

bool IsTokenByte(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 43 && b <= 122;
}

bool IsHeaderWord(std::string_view t) {
  if (t.size() < 3) return false;
  std::string_view p = t.substr(0, 3);
  return p == "tab" || p == "Tab" || p == "TAB";
}

// Writes ERROR.TAB (CP437, CR LF) and raises the range error.
[[noreturn]] void OutOfRange(const TableCache& cache, const std::string& line1,
                             const std::string& line2) {
  std::string path = cache.errorFolder.empty() ? std::string("ERROR.TAB")
                                               : JoinPath(cache.errorFolder, "ERROR.TAB");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << Utf8ToCp437(line1) << "\r\n" << Utf8ToCp437(line2) << "\r\n";
  out.close();
  throw TableRangeError(line1, line2);
}

[[noreturn]] void OutOfRange1(const TableCache& cache, const std::string& fileName,
                              const std::string& tableNumber, double x) {
  OutOfRange(cache, "Avbrott p g a att TABR1 inte funnit något invärde i " + fileName,
             "tabell nr " + tableNumber + " som är större än " + FormatSci23(x));
}

[[noreturn]] void OutOfRange2(const TableCache& cache, const std::string& fileName,
                              const std::string& tableNumber, double columnArg, double rowArg) {
  OutOfRange(cache, "Avbrott p g a att TABR2 inte funnit något invärdepar i " + fileName,
             "tabell nr " + tableNumber + " som är större än " + FormatSci23(columnArg) + " / " +
                 FormatSci23(rowArg));
}

// First token of the line after `line`, or the end of the tokens.
std::size_t StartOfLine(const TableFile& f, std::size_t line) {
  if (line >= f.lineStart.size()) return f.tokens.size();
  return f.lineStart[line];
}

// Token search for TABR1: returns the first token after the header line (and
// after the title line when the header line ends directly after its number).
bool FindTable1(const TableFile& f, const std::string& tableNumber, std::size_t* start) {
  const auto& tok = f.tokens;
  std::size_t i = 0;
  while (i < tok.size()) {
    const TableToken& t = tok[i];
    if (!t.isHeader) {
      ++i;
      continue;
    }
    std::string_view number;
    std::size_t last = i;
    if (!t.endsLine && i + 1 < tok.size() && tok[i + 1].line == t.line) {
      number = f.Text(tok[i + 1]);
      last = i + 1;
    }
    std::size_t resumeLine = tok[last].line + 1 + (tok[last].endsLine ? 1 : 0);
    std::size_t next = StartOfLine(f, resumeLine);
    if (tableNumber == "0" || (!number.empty() && number == tableNumber)) {
      *start = next;
      return true;
    }
    i = next;
  }
  return false;
}

// Line search for TABR2: the first token of a line is the header word, the
// second the table number. Returns the token after the header.
bool FindTable2(const TableFile& f, const std::string& tableNumber, std::size_t* start) {
  for (std::size_t line = 0; line < f.LineCount(); ++line) {
    std::size_t first = f.lineStart[line];
    std::size_t end = f.lineStart[line + 1];
    if (first == end || !f.tokens[first].isHeader) continue;
    std::string_view number;
    if (first + 1 < end) number = f.Text(f.tokens[first + 1]);
    if (tableNumber == "0" || (!number.empty() && number == tableNumber)) {
      *start = number.empty() ? first + 1 : first + 2;
      return true;
    }
  }
  return false;
}

double Between(char mode, double lowKey, double highKey, double lowValue, double highValue,
               double arg) {
  if (highKey - lowKey == 0.0) return lowValue;
  if (mode == '+') return highValue;
  if (mode == '-') return lowValue;
  return lowValue + (highValue - lowValue) * (arg - lowKey) / (highKey - lowKey);
}

}  // namespace

TableFile TokenizeTable(std::string bytes) {
  TableFile f;
  f.bytes = std::move(bytes);
  const std::string& b = f.bytes;
  const std::size_t n = b.size();
  f.tokens.reserve(n / 4);
  uint32_t line = 0;
  f.lineStart.push_back(0);
  std::size_t i = 0;
  while (i < n) {
    char c = b[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < n && b[i + 1] == '\n') ++i;
      ++i;
      ++line;
      f.lineStart.push_back(static_cast<uint32_t>(f.tokens.size()));
      continue;
    }
    if (!IsTokenByte(c)) {
      ++i;
      continue;
    }
    std::size_t start = i;
    while (i < n && IsTokenByte(b[i]) && i - start < kMaxTokenLength) ++i;
    TableToken t{};
    t.line = line;
    t.offset = static_cast<uint32_t>(start);
    t.length = static_cast<uint32_t>(i - start);
    t.endsLine = (i == n) || b[i] == '\r' || b[i] == '\n';
    std::string_view text(b.data() + start, i - start);
    t.isNumber = IsPlainNumber(text, &t.value);
    t.isHeader = IsHeaderWord(text);
    f.tokens.push_back(t);
  }
  f.lineStart.push_back(static_cast<uint32_t>(f.tokens.size()));
  return f;
}

namespace {

// Two seconds cover the timestamp resolution of every common file system.
constexpr int64_t kRecentSeconds = 2;

// Whether a file changed so recently that a further change may leave its
// status as it is (file times are kept in steps of the clock's resolution).
bool ChangedRecently(const struct stat& st) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return st.st_ctim.tv_sec + kRecentSeconds >= now.tv_sec;
}

}  // namespace

const TableFile& TableCache::Get(const std::string& fileName) {
  if (!enabled) {
    uncached_ = TokenizeTable(ReadFileBytes(fileName));
    ++reads;
    return uncached_;
  }
  Entry& e = entries_[fileName];
  struct stat st;
  if (e.resolved.empty() || ::stat(e.resolved.c_str(), &st) != 0) {
    e.resolved = ResolveCase(fileName);
    if (::stat(e.resolved.c_str(), &st) != 0) {
      int err = errno;
      e.resolved.clear();
      e.size = -1;
      throw IoError(fileName, 0, ErrnoReason(err));
    }
  }
  const bool sameStatus = e.size == static_cast<int64_t>(st.st_size) &&
                          e.mtimeSec == st.st_mtim.tv_sec && e.mtimeNsec == st.st_mtim.tv_nsec &&
                          e.ctimeSec == st.st_ctim.tv_sec && e.ctimeNsec == st.st_ctim.tv_nsec &&
                          e.inode == st.st_ino && e.device == st.st_dev;
  if (sameStatus && !e.recent) return e.file;
  const bool recent = ChangedRecently(st);
  std::string bytes = ReadFileBytes(e.resolved);
  if (sameStatus && bytes == e.file.bytes) {
    e.recent = recent;
    return e.file;
  }
  e.file = TokenizeTable(std::move(bytes));
  e.recent = recent;
  e.size = static_cast<int64_t>(st.st_size);
  e.mtimeSec = st.st_mtim.tv_sec;
  e.mtimeNsec = st.st_mtim.tv_nsec;
  e.ctimeSec = st.st_ctim.tv_sec;
  e.ctimeNsec = st.st_ctim.tv_nsec;
  e.inode = st.st_ino;
  e.device = st.st_dev;
  ++reads;
  return e.file;
}

double TABR1(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char mode, double x, int column) {
  const TableFile& f = cache.Get(fileName);
  const auto& tok = f.tokens;
  std::size_t p = 0;
  if (!FindTable1(f, tableNumber, &p)) OutOfRange1(cache, fileName, tableNumber, x);

  double xCur = 0, yCur = 0, xPrev = 0, yPrev = 0;
  while (!(xCur > x)) {
    xPrev = xCur;
    yPrev = yCur;
    // The next number token; a header ends the table.
    const TableToken* row = nullptr;
    while (p < tok.size()) {
      const TableToken& t = tok[p++];
      if (t.isHeader) break;
      if (t.isNumber) {
        row = &t;
        break;
      }
    }
    if (!row) OutOfRange1(cache, fileName, tableNumber, x);
    xCur = row->value;
    if (column == 0) {
      yCur = xCur;
    } else {
      int k = 0;
      for (std::size_t q = p; q < tok.size() && tok[q].line == row->line; ++q) {
        if (++k == column) {
          yCur = tok[q].value;
          break;
        }
      }
    }
    p = StartOfLine(f, row->line + 1);
  }
  if (xCur - xPrev == 0.0) return yPrev;
  return Between(mode, xPrev, xCur, yPrev, yCur, x);
}

double TABR2(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char columnMode, char rowMode, double columnArg, double rowArg) {
  const TableFile& f = cache.Get(fileName);
  const auto& tok = f.tokens;
  std::size_t p = 0;
  if (!FindTable2(f, tableNumber, &p)) OutOfRange2(cache, fileName, tableNumber, columnArg, rowArg);
  const std::size_t headerLine = tok[p - 1].line;

  // Column scan over the key line: the first line with a number after the
  // header; it ends where that line has no further number.
  double kCur = 0, kPrev = 0;
  int c = 0;
  int64_t keyLine = -1;
  while (kCur < columnArg) {
    std::size_t q = p;
    bool found = false;
    for (; q < tok.size(); ++q) {
      if (keyLine >= 0 && tok[q].line != keyLine) break;
      if (tok[q].isNumber) {
        found = true;
        break;
      }
    }
    if (!found) break;
    kPrev = kCur;
    ++c;
    kCur = tok[q].value;
    keyLine = tok[q].line;
    p = q + 1;
  }

  // Row scan, one line per row, from the line after the key line (after the
  // header when no key was read, as for a column argument of 0 or less).
  double rCur = 0, rPrev = 0, lowCur = 0, highCur = 0, lowPrev = 0, highPrev = 0;
  std::size_t line = (keyLine >= 0 ? static_cast<std::size_t>(keyLine) : headerLine) + 1;
  while (!(rCur > rowArg)) {
    rPrev = rCur;
    lowPrev = lowCur;
    highPrev = highCur;
    std::size_t first = 0, end = 0;
    for (;;) {
      if (line >= f.LineCount()) OutOfRange2(cache, fileName, tableNumber, columnArg, rowArg);
      first = f.lineStart[line];
      end = f.lineStart[line + 1];
      if (first == end) {
        ++line;
        continue;
      }
      if (tok[first].isHeader) OutOfRange2(cache, fileName, tableNumber, columnArg, rowArg);
      if (!tok[first].isNumber) {
        ++line;
        continue;
      }
      break;
    }
    rCur = tok[first].value;
    ++line;
    if (c > kMaxColumns) break;
    for (int j = 1; first + j < end; ++j) {
      if (j == c - 1) lowCur = tok[first + j].value;
      if (j == c) {
        highCur = tok[first + j].value;
        break;
      }
    }
    if (c == 1) lowCur = 0.0;
  }
  // The scans have found the row range; arguments at or below the zero
  // column and row give 0.
  if (columnArg <= 0.0 || rowArg < 0.0) return 0.0;
  double vPrev = Between(columnMode, kPrev, kCur, lowPrev, highPrev, columnArg);
  double vCur = Between(columnMode, kPrev, kCur, lowCur, highCur, columnArg);
  if (rCur - rPrev == 0.0) return vPrev;
  return Between(rowMode, rPrev, rCur, vPrev, vCur, rowArg);
}

}  // namespace drivanto
