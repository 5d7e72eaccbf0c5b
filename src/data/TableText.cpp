#include "data/TableText.h"

#include <algorithm>

#include "base/NumberText.h"

namespace drivanto {

namespace {

constexpr std::size_t kMaxTokenLength = 250;

bool IsTokenByte(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 43 && b <= 122;
}

bool IsHeaderWord(std::string_view t) {
  if (t.size() < 3) return false;
  std::string_view p = t.substr(0, 3);
  return p == "tab" || p == "Tab" || p == "TAB";
}

}  // namespace

TableFile TokenizeTable(std::string bytes) {
  TableFile f;
  f.bytes = std::move(bytes);
  const std::string& b = f.bytes;
  const std::size_t n = b.size();
  f.tokens.reserve(n / 4);
  f.lineStart.push_back(0);
  std::size_t i = 0;
  while (i < n) {
    char c = b[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < n && b[i + 1] == '\n') ++i;
      ++i;
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
    t.offset = static_cast<uint32_t>(start);
    t.length = static_cast<uint8_t>(i - start);
    t.endsLine = (i == n) || b[i] == '\r' || b[i] == '\n';
    std::string_view text(b.data() + start, i - start);
    double value = 0;
    t.isNumber = IsPlainNumber(text, &value);
    t.isHeader = IsHeaderWord(text);
    f.tokens.push_back(t);
  }
  f.lineStart.push_back(static_cast<uint32_t>(f.tokens.size()));
  return f;
}

uint32_t TableFile::LineOf(std::size_t token) const {
  // The last line whose first token lies at or before this one (lines
  // without tokens share their start with the next).
  const auto it = std::upper_bound(lineStart.begin(), lineStart.end() - 1,
                                   static_cast<uint32_t>(token));
  return static_cast<uint32_t>(it - lineStart.begin() - 1);
}

double TableFile::Value(const TableToken& t) const {
  double value = 0;
  IsPlainNumber(Text(t), &value);
  return value;
}

bool FindTable1(const TableFile& f, std::string_view tableNumber, std::size_t* start) {
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
    // A token that does not end its line has the next one on the same line.
    if (!t.endsLine && i + 1 < tok.size()) {
      number = f.Text(tok[i + 1]);
      last = i + 1;
    }
    std::size_t resumeLine = f.LineOf(last) + 1 + (tok[last].endsLine ? 1 : 0);
    std::size_t next = StartOfLine(f, resumeLine);
    if (tableNumber == "0" || (!number.empty() && number == tableNumber)) {
      *start = next;
      return true;
    }
    i = next;
  }
  return false;
}

bool FindTable2(const TableFile& f, std::string_view tableNumber, std::size_t* start) {
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

}  // namespace drivanto
