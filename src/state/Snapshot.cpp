#include "state/Snapshot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"

namespace drivanto {

const std::vector<SnapshotLine>& SnapshotLines() {
  static const std::vector<SnapshotLine> lines = [] {
    std::vector<SnapshotLine> v;
#define FIELD(type, name, pub, dflt, line, kind, constLine, constKind, unit, label) \
  if (line > 0) v.push_back({line, SnapKind::kind, &State::name});
#define ARRAY(type, name, pub, size, line, kind, unit, label) \
  v.push_back({line, SnapKind::kind, &State::name, size - 1});
#include "state/StateFields.def"
#undef FIELD
#undef ARRAY
    std::sort(v.begin(), v.end(),
              [](const SnapshotLine& a, const SnapshotLine& b) { return a.line < b.line; });
    return v;
  }();
  return lines;
}

namespace {

constexpr int kPausLine = 37;
constexpr int kCycleNameLine = 147;
constexpr int kFreeFormat1 = 148;
constexpr int kFreeFormat2 = 149;

// ---- writing ----

struct Writer {
  std::string out;
  char sep;
  bool utf8;

  // A line end inside a value would split its line and shift every later line
  // of the file. A character CR or LF is therefore written as an empty line,
  // which loads back as the line-end character, and a line end inside a text
  // as a blank.
  void Text(const std::string& t) {
    std::string clean = t;
    for (char& c : clean) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    out += utf8 ? clean : Utf8ToCp1252(clean);
  }
  void Char(char c) {
    if (c == '\r' || c == '\n') return;
    out += utf8 ? CharToUtf8(c) : std::string(1, c);
  }
  void End() { out += "\r\n"; }
};

bool IsAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Texts that the Windows code page cannot hold make the file UTF-8 throughout.
bool NeedsUtf8(const State& s) {
  for (const SnapshotLine& l : SnapshotLines()) {
    if (auto m = std::get_if<std::string State::*>(&l.field)) {
      const std::string& t = s.**m;
      if (Cp1252ToUtf8(Utf8ToCp1252(t)) != t) return true;
    }
  }
  return false;
}

struct WriteVisitor {
  Writer& w;
  const State& s;
  int index;
  int line;
  void operator()(double State::*m) { w.out += FormatShortest(s.*m, w.sep); }
  void operator()(int32_t State::*m) { w.out += std::to_string(s.*m); }
  void operator()(uint8_t State::*m) {
    // The pause flag is written as the character whose code is its value.
    if (line == kPausLine) {
      w.Char(static_cast<char>(s.*m));
    } else {
      w.out += std::to_string(s.*m);
    }
  }
  void operator()(uint16_t State::*m) { w.out += std::to_string(s.*m); }
  void operator()(char State::*m) { w.Char(s.*m); }
  void operator()(std::string State::*m) { w.Text(s.*m); }
  void operator()(String4 State::*m) {
    const String4& t = s.*m;
    for (int i = 1; i <= t.len; ++i) w.Char(t.At(i));
  }
  template <std::size_t N>
  void operator()(std::array<double, N> State::*m) {
    w.out += FormatShortest((s.*m)[index], w.sep);
  }
  template <typename T, std::size_t N>
  void operator()(std::array<T, N> State::*m) {
    w.out += std::to_string((s.*m)[index]);
  }
};

void WriteLine(Writer& w, const State& s, const SnapshotLine& l, int index) {
  std::visit(WriteVisitor{w, s, index, l.line}, l.field);
  w.End();
}

// ---- reading ----

// The file as lines, each with the character that ended it.
struct Line {
  std::string text;  // bytes of the decoded (UTF-8) text
  char ending;       // '\r' for CR LF and CR, '\n' for LF, 26 past the end
};

std::vector<Line> ReadLines(std::string_view decoded) {
  std::vector<Line> lines;
  std::size_t start = 0, i = 0;
  while (i < decoded.size()) {
    char c = decoded[i];
    if (c == '\r' || c == '\n') {
      lines.push_back({std::string(decoded.substr(start, i - start)), c});
      if (c == '\r' && i + 1 < decoded.size() && decoded[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < decoded.size()) lines.push_back({std::string(decoded.substr(start)), 26});
  return lines;
}

class Reader {
 public:
  Reader(std::vector<Line> lines, const std::string& file)
      : lines_(std::move(lines)), file_(file) {}

  bool AtEnd() const { return pos_ >= lines_.size(); }
  // The current line's text (empty past the end) and its ending character.
  const std::string& Current() const { return AtEnd() ? empty_ : lines_[pos_].text; }
  char CurrentFirstChar() const {
    if (AtEnd()) return 26;
    const Line& l = lines_[pos_];
    return l.text.empty() ? l.ending : FirstCharCp1252(l.text);
  }
  void Next() {
    if (!AtEnd()) ++pos_;
  }
  int LineNumber() const { return static_cast<int>(pos_) + 1; }

  // Free-format integer read: skips blanks and line ends to the next
  // non-blank text, takes up to 32 non-blank characters as an integer, then
  // skips the rest of that line.
  int64_t FreeFormatInteger() {
    while (!AtEnd()) {
      const std::string& t = lines_[pos_].text;
      std::size_t i = t.find_first_not_of(" \t");
      if (i == std::string::npos) {
        ++pos_;
        continue;
      }
      std::size_t j = i;
      while (j < t.size() && j - i < 32 && t[j] != ' ' && t[j] != '\t') ++j;
      std::string word = t.substr(i, j - i);
      int64_t value = 0;
      if (!ParseInteger(word, &value, true)) {
        throw IoError(file_, LineNumber(), "Invalid numeric input");
      }
      ++pos_;
      return value;
    }
    return 0;
  }

  // Integer text: optional sign, decimal digits, or "$"/"0x" and hex digits.
  // Returns whether the whole text was such an integer; value is what was read.
  static bool ParseInteger(std::string_view t, int64_t* value, bool strict) {
    std::size_t i = 0;
    if (!strict) {
      while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    }
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    int base = 10;
    if (i < t.size() && t[i] == '$') {
      base = 16;
      ++i;
    } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
      base = 16;
      i += 2;
    }
    uint64_t v = 0;
    std::size_t digits = 0;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    for (; i < t.size(); ++i, ++digits) {
      char c = t[i];
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        break;
      if (v <= limit / 16) v = v * base + d;
      if (v > limit) v = limit;
    }
    bool whole = digits > 0;
    for (std::size_t j = i; whole && j < t.size(); ++j)
      whole = (t[j] == ' ' || t[j] == '\t') && !strict;
    int64_t r = static_cast<int64_t>(v);
    *value = negative ? -r : r;
    return whole;
  }

 private:
  std::vector<Line> lines_;
  std::string file_;
  std::size_t pos_ = 0;
  std::string empty_;
};

template <class T>
T Narrow(int64_t v) {
  // Stored in the variable's own width, as the bits fall.
  return static_cast<T>(static_cast<uint64_t>(v));
}

struct ReadVisitor {
  State& s;
  const std::string& text;
  char first;
  int index;
  static int64_t Int(const std::string& t) {
    int64_t v = 0;
    Reader::ParseInteger(DecimalCommaToPoint(t), &v, false);
    return v;
  }
  static double Real(const std::string& t) { return ParseNumberEitherSeparator(t); }
  void operator()(double State::*m) { s.*m = Real(text); }
  void operator()(int32_t State::*m) { s.*m = Narrow<int32_t>(Int(text)); }
  void operator()(uint8_t State::*m) { s.*m = Narrow<uint8_t>(Int(text)); }
  void operator()(uint16_t State::*m) { s.*m = Narrow<uint16_t>(Int(text)); }
  void operator()(char State::*m) { s.*m = first; }
  void operator()(std::string State::*m) { s.*m = text; }
  void operator()(String4 State::*m) { (s.*m).Assign(Utf8ToCp1252(CutChars(text, 4))); }
  template <std::size_t N>
  void operator()(std::array<double, N> State::*m) {
    (s.*m)[index] = Real(text);
  }
  template <typename T, std::size_t N>
  void operator()(std::array<T, N> State::*m) {
    (s.*m)[index] = Narrow<T>(Int(text));
  }
};

void ReadLine(Reader& r, State& s, const SnapshotLine& l, int index, int lineNo) {
  if (lineNo == kCycleNameLine) {  // the cycle reader keeps the name it has
    r.Next();
    return;
  }
  if (lineNo == kFreeFormat1 || lineNo == kFreeFormat2) {
    int64_t v = r.FreeFormatInteger();
    s.*std::get<uint8_t State::*>(l.field) = Narrow<uint8_t>(v);
    return;
  }
  if (lineNo == kPausLine) {  // read, not stored: the caller sets the flag
    r.Next();
    return;
  }
  std::string text = CutChars(r.Current(), 250);
  std::visit(ReadVisitor{s, text, r.CurrentFirstChar(), index}, l.field);
  r.Next();
}

}  // namespace

std::string SnapshotText(const State& s, char decimalSeparator) {
  auto build = [&](bool utf8) {
    Writer w{{}, decimalSeparator, utf8};
    w.out.reserve(16384);
    for (const SnapshotLine& l : SnapshotLines()) {
      for (int i = 1; i <= l.count; ++i) WriteLine(w, s, l, i);
    }
    return std::move(w.out);
  };
  // Names that are not UTF-8 at all (a folder named in another code page)
  // are written byte for byte after a UTF-8 byte-order mark, which tells
  // the reader to take the file's bytes as they are.
  for (const SnapshotLine& l : SnapshotLines()) {
    if (auto m = std::get_if<std::string State::*>(&l.field); m && !IsValidUtf8(s.**m)) {
      return "\xEF\xBB\xBF" + build(true);
    }
  }
  const bool utf8 = NeedsUtf8(s);
  std::string out = build(utf8);
  // Loading takes valid UTF-8 as UTF-8, so Windows code-page bytes that happen
  // to form valid UTF-8 ("Ã©" is C3 A9) would come back as other characters;
  // such a file is written in UTF-8 instead.
  if (!utf8 && IsValidUtf8(out) && !IsAscii(out)) out = build(true);
  return out;
}

void SaveSnapshot(const State& s, const std::string& fileName, char decimalSeparator) {
  WriteFileAtomic(fileName, SnapshotText(s, decimalSeparator));
}

void LoadSnapshotText(State& s, std::string_view bytes, const std::string& fileName) {
  RejectUtf16(fileName, bytes);
  const bool asIs = bytes.substr(0, 3) == "\xEF\xBB\xBF";
  Reader r(ReadLines(asIs ? std::string(bytes.substr(3)) : DecodeFileText(bytes)), fileName);
  for (const SnapshotLine& l : SnapshotLines()) {
    for (int i = 1; i <= l.count; ++i) ReadLine(r, s, l, i, l.line + i - 1);
  }
}

void CheckIsSnapshot(const std::string& fileName) {
  ReadingFile reading(fileName);
  const std::string bytes = ReadFileBytes(fileName);
  RejectUtf16(fileName, bytes);
  // A character of code 0 is written as that byte, at most one to a line of
  // a single character; more are binary data.
  std::size_t characterLines = 0;
  for (const SnapshotLine& l : SnapshotLines()) characterLines += l.kind == SnapKind::Char;
  if (static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\0')) > characterLines) {
    throw IoError(fileName, 0, "not a snapshot: the file holds binary data");
  }
  const std::size_t lines = SplitLines(bytes).size();
  if (lines < kSnapshotLines) {
    throw IoError(fileName, 0,
                  "not a snapshot: it holds " + std::to_string(lines) + " lines, a snapshot " +
                      std::to_string(kSnapshotLines));
  }
}

void LoadSnapshot(State& s, const std::string& fileName) {
  ReadingFile reading(fileName);
  LoadSnapshotText(s, ReadFileBytes(fileName), fileName);
}

}  // namespace drivanto
