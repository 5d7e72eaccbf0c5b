#pragma once
// The text of a table file as the lookups see it: tokens (runs of the bytes
// "+" to "z") in lines, and the search for a numbered table.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drivanto {

// At most this many value columns of a two-dimensional table take part.
constexpr int kMaxTableColumns = 30;

// A run of characters "+" to "z" (bytes 43 to 122) within one line, of at
// most 250 bytes. Eight bytes a token (its number is read again when a table
// is compiled): a table file of many rows costs a small multiple of its own
// size.
struct TableToken {
  uint32_t offset;  // into TableFile::bytes
  uint8_t length;
  bool endsLine;  // the line (or the file) ends directly after the token
  bool isNumber;  // reads completely as a decimal number
  bool isHeader;  // begins with "tab", "Tab" or "TAB"
};

struct TableFile {
  std::string bytes;
  std::vector<TableToken> tokens;
  // Index of the first token of each line; lineStart[lines] == tokens.size().
  std::vector<uint32_t> lineStart;
  std::string_view Text(const TableToken& t) const {
    return std::string_view(bytes).substr(t.offset, t.length);
  }
  uint32_t LineCount() const { return static_cast<uint32_t>(lineStart.size() - 1); }
  // The 0-based line of the token with this index.
  uint32_t LineOf(std::size_t token) const;
  // The token's number, or what the conversion makes of a token that is
  // none.
  double Value(const TableToken& t) const;
};

// Splits file bytes into the tokens and lines the lookups walk.
TableFile TokenizeTable(std::string bytes);

// The one-dimensional search: token by token, a header word followed on its
// line by the table number ("0" asks for the first header). On success *start
// is the first token after the header line (and after the title line when the
// line ends directly after the number).
bool FindTable1(const TableFile& f, std::string_view tableNumber, std::size_t* start);

// The two-dimensional search: line by line, the first token the header word
// and the second the table number. On success *start is the token after them.
bool FindTable2(const TableFile& f, std::string_view tableNumber, std::size_t* start);

// The first token of the given line, or the end of the tokens.
inline std::size_t StartOfLine(const TableFile& f, std::size_t line) {
  if (line >= f.lineStart.size()) return f.tokens.size();
  return f.lineStart[line];
}

// One direction of a lookup between two neighbours: "+" the upper, "-" the
// lower, anything else linear interpolation; equal keys give the lower value.
inline double Between(char mode, double lowKey, double highKey, double lowValue, double highValue,
                      double arg) {
  if (highKey - lowKey == 0.0) return lowValue;
  if (mode == '+') return highValue;
  if (mode == '-') return lowValue;
  return lowValue + (highValue - lowValue) * (arg - lowKey) / (highKey - lowKey);
}

}  // namespace drivanto
