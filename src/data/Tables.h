#pragma once
// Lookups in the numbered tables of the car's text files. TABR1 reads a
// one-dimensional table, TABR2 a two-dimensional one. The scanning works on a
// cached, tokenised copy of each file that is checked against the file on
// disk (size, modification and change time, inode) at every lookup, so an
// edit made between two lookups is seen by the second.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace drivanto {

// A run of characters "+" to "z" (bytes 43 to 122) within one line.
struct TableToken {
  uint32_t line;        // 0-based line of the file
  uint32_t offset;      // into TableFile::bytes
  uint32_t length;
  bool endsLine;        // the line (or the file) ends directly after the token
  bool isNumber;        // reads completely as a decimal number
  bool isHeader;        // begins with "tab", "Tab" or "TAB"
  double value;         // the number, or what the conversion makes of it
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
};

// Splits file bytes into the tokens and lines the lookups walk.
TableFile TokenizeTable(std::string bytes);

class TableCache {
 public:
  // The tokenised file, read again when it changed on disk. Throws IoError.
  const TableFile& Get(const std::string& fileName);

  // Folder where ERROR.TAB is written; empty means the current folder.
  std::string errorFolder;
  // When false every lookup reads its file anew (for comparisons).
  bool enabled = true;
  // How many times a file was tokenised (for tests). A file changed within
  // the last seconds is read again at each lookup and compared byte for byte,
  // since an edit of the same size within the file system's timestamp
  // resolution leaves size, time and inode as they were.
  int reads = 0;

 private:
  struct Entry {
    std::string resolved;
    int64_t size = -1;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    // The change time, which no program can set back: a copy that keeps the
    // modification time of the file it replaces still changes it.
    int64_t ctimeSec = 0;
    int64_t ctimeNsec = 0;
    uint64_t inode = 0;
    uint64_t device = 0;
    // The file had changed too shortly before it was read for its status to
    // prove it unchanged later.
    bool recent = true;
    TableFile file;
  };
  std::unordered_map<std::string, Entry> entries_;
  TableFile uncached_;
};

double TABR1(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char mode, double x, int column);

double TABR2(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char columnMode, char rowMode, double columnArg, double rowArg);

}  // namespace drivanto
