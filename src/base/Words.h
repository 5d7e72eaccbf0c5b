#pragma once
// Words of free-format number files (drive cycles, the gear table,
// snapshots): runs of characters between blanks and line ends.

#include <string_view>

namespace drivanto {

// Blanks, tabs and line ends separate words.
inline bool IsWordSpace(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The next word of text from *pos on (empty at the end); *pos moves past it.
// A word is at most maxLength characters long; a longer run gives its first
// maxLength characters as one word and the rest as the next.
inline std::string_view NextWord(std::string_view text, std::size_t* pos,
                                 std::size_t maxLength = std::string_view::npos) {
  std::size_t i = *pos;
  while (i < text.size() && IsWordSpace(static_cast<unsigned char>(text[i]))) ++i;
  const std::size_t start = i;
  while (i < text.size() && !IsWordSpace(static_cast<unsigned char>(text[i])) &&
         i - start < maxLength)
    ++i;
  *pos = i;
  return text.substr(start, i - start);
}

}  // namespace drivanto
