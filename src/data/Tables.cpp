#include "data/Tables.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "base/Sha256.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Text.h"

namespace drivanto {

namespace {

// Writes ERROR.TAB (CP437, CR LF) and raises the range error, which says
// why the file could not be written where that is so.
[[noreturn]] void OutOfRange(const TableCache& cache, const std::string& line1,
                             const std::string& line2) {
  const std::string path = cache.errorFolder.empty() ? std::string("ERROR.TAB")
                                                     : JoinPath(cache.errorFolder, "ERROR.TAB");
  std::string notWritten;
  try {
    if (cache.makeErrorFolder && !cache.errorFolder.empty() &&
        ::mkdir(cache.errorFolder.c_str(), 0777) != 0 && errno != EEXIST) {
      throw IoError(cache.errorFolder, 0, ErrnoReason(errno));
    }
    WriteFileAtomic(path, Utf8ToCp437(line1) + "\r\n" + Utf8ToCp437(line2) + "\r\n");
  } catch (const IoError& e) {
    notWritten = e.what();
  }
  throw TableRangeError(line1, line2, notWritten);
}

[[noreturn]] void OutOfRange1(const TableCache& cache, const std::string& fileName,
                              std::string_view tableNumber, double x) {
  OutOfRange(cache, "Avbrott p g a att TABR1 inte funnit något invärde i " + fileName,
             "tabell nr " + std::string(tableNumber) + " som är större än " + FormatSci23(x));
}

[[noreturn]] void OutOfRange2(const TableCache& cache, const std::string& fileName,
                              std::string_view tableNumber, double columnArg, double rowArg) {
  OutOfRange(cache, "Avbrott p g a att TABR2 inte funnit något invärdepar i " + fileName,
             "tabell nr " + std::string(tableNumber) + " som är större än " +
                 FormatSci23(columnArg) + " / " + FormatSci23(rowArg));
}

// Two seconds cover the timestamp resolution of every common file system.
constexpr int64_t kRecentSeconds = 2;

// Whether a file changed so recently that a further change may leave its
// status as it is (file times are kept in steps of the clock's resolution).
bool ChangedRecently(const struct stat& st) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return st.st_ctim.tv_sec + kRecentSeconds >= now.tv_sec;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool IsSymlink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

void TableCache::Drain() {
  if (inStep_ && drained_) return;
  drained_ = true;
  // Inside a step the queue is read only when the listener heard something.
  if (inStep_ && !watch_.MayHaveNews()) return;
  const bool whole = watch_.Drain([&](int watch, std::string_view name) {
    for (auto& [key, e] : entries_) {
      if (e->watch == watch && SameIgnoringAsciiCase(e->name, name)) e->stale = true;
    }
  });
  if (!whole) {
    for (auto& [key, e] : entries_) {
      e->stale = true;
      e->watch = -1;
    }
  }
}

void TableCache::Check(Entry& e, const std::string& fileName) {
  struct stat st;
  if (e.resolved.empty() || ::stat(e.resolved.c_str(), &st) != 0) {
    e.resolved = ResolveCase(fileName);
    e.watch = -1;
    if (::stat(e.resolved.c_str(), &st) != 0) {
      const int err = errno;
      e.resolved.clear();
      e.size = -1;
      throw IoError(fileName, 0, ErrnoReason(err));
    }
  }
  if (e.watch < 0 && notifications) {
    // The folder is watched before the file is read, so that no change
    // after the reading goes unnoticed. A file reached through a link, or
    // with a second name elsewhere, can change without a notification here.
    const std::string folder = FolderOf(e.resolved);
    if (!IsSymlink(e.resolved) && !IsSymlink(folder)) e.watch = watch_.Watch(folder);
    e.name = LastPathPart(e.resolved);
    if (e.watch >= 0 && ::stat(e.resolved.c_str(), &st) != 0) {
      const int err = errno;
      throw IoError(fileName, 0, ErrnoReason(err));
    }
  }
  if (e.watch >= 0 && st.st_nlink != 1) e.watch = -1;
  const bool sameStatus = e.version != 0 && e.size == static_cast<int64_t>(st.st_size) &&
                          e.mtimeSec == st.st_mtim.tv_sec && e.mtimeNsec == st.st_mtim.tv_nsec &&
                          e.ctimeSec == st.st_ctim.tv_sec && e.ctimeNsec == st.st_ctim.tv_nsec &&
                          e.inode == st.st_ino && e.device == st.st_dev;
  // Unwatched: the status proves the file unchanged unless it changed within
  // the timestamp resolution. Watched: a notification (or the first use) is
  // why we are here, so the bytes decide.
  if (e.watch < 0 && sameStatus && !e.recent) return;
  const bool recent = e.watch < 0 && ChangedRecently(st);
  ReadingFile reading(fileName);
  std::string bytes = ReadFileBytes(e.resolved);
  RejectUtf16(fileName, bytes);
  // The entry takes the new version only once it is read in full: a read
  // that fails (no memory left) leaves it to be checked again at its next
  // use, never half made.
  if (e.version == 0 || bytes != e.file.bytes) {
    TableFile file = TokenizeTable(std::move(bytes));
    e.file = std::move(file);
    e.tables1.clear();
    e.tables2.clear();
    e.version = nextVersion_++;
    ++reads;
  }
  e.stale = false;
  e.recent = recent;
  e.size = static_cast<int64_t>(st.st_size);
  e.mtimeSec = st.st_mtim.tv_sec;
  e.mtimeNsec = st.st_mtim.tv_nsec;
  e.ctimeSec = st.st_ctim.tv_sec;
  e.ctimeNsec = st.st_ctim.tv_nsec;
  e.inode = st.st_ino;
  e.device = st.st_dev;
}

std::string TableCache::Fingerprint(const std::string& fileName) {
  std::string bytes = ReadFileBytes(fileName);
  // A few files per run: more names than a study's inputs means copies.
  if (fingerprints_.size() > 64) fingerprints_.clear();
  Fingerprinted& f = fingerprints_[fileName];
  if (f.hash.empty() || f.bytes != bytes) {
    f.hash = Sha256Hex(bytes);
    f.bytes = std::move(bytes);
  }
  return f.hash;
}

template <typename T, typename Compile>
const T& TableCache::Get(TableSite& site, const std::string& fileName, std::string_view number,
                         std::map<std::string, T, std::less<>> Entry::*tables, Compile compile) {
  if (!enabled) {
    // Read anew at every lookup.
    uncached_.file = TokenizeTable(ReadFileBytes(fileName));
    ++reads;
    auto& m = uncached_.*tables;
    m.clear();
    return m.emplace(std::string(number), compile(uncached_.file, number)).first->second;
  }
  Drain();
  if (site.cache_ != this || site.file_ != fileName || site.number_ != number) {
    auto& slot = entries_[fileName];
    if (!slot) slot = std::make_unique<Entry>();
    site.cache_ = this;
    site.file_ = fileName;
    site.number_ = number;
    site.entry_ = slot.get();
    site.version_ = 0;
  }
  Entry& e = *static_cast<Entry*>(site.entry_);
  if (e.watch < 0 || e.stale) Check(e, fileName);
  if (site.version_ != e.version) {
    auto& m = e.*tables;
    auto it = m.find(number);
    if (it == m.end()) it = m.emplace(std::string(number), compile(e.file, number)).first;
    site.table_ = &it->second;
    site.version_ = e.version;
  }
  return *static_cast<const T*>(site.table_);
}

const std::string& TableCache::Text(TableSite& site, const std::string& fileName) {
  if (!enabled) {
    uncached_.file = TokenizeTable(ReadFileBytes(fileName));
    ++reads;
    return uncached_.file.bytes;
  }
  // Resolved as a table site of its own, with no table number.
  Get(site, fileName, "", &Entry::tables1, [](const TableFile&, std::string_view) {
    return Table1();
  });
  return static_cast<Entry*>(site.entry_)->file.bytes;
}

// The two kinds the header's lookups ask for.
template const Table1& TableCache::Get(TableSite&, const std::string&, std::string_view,
                                       std::map<std::string, Table1, std::less<>> Entry::*,
                                       Table1 (*)(const TableFile&, std::string_view));
template const Table2& TableCache::Get(TableSite&, const std::string&, std::string_view,
                                       std::map<std::string, Table2, std::less<>> Entry::*,
                                       Table2 (*)(const TableFile&, std::string_view));

double TABR1(TableCache& cache, TableSite& site, const std::string& fileName,
             std::string_view tableNumber, char mode, double x, int column) {
  double result;
  if (!Lookup1(cache.Get1(site, fileName, tableNumber), mode, x, column, &result, &site.hint)) {
    OutOfRange1(cache, fileName, tableNumber, x);
  }
  return result;
}

double TABR2(TableCache& cache, TableSite& site, const std::string& fileName,
             std::string_view tableNumber, char columnMode, char rowMode, double columnArg,
             double rowArg) {
  double result;
  if (!Lookup2(cache.Get2(site, fileName, tableNumber), columnMode, rowMode, columnArg, rowArg,
               &result, &site.hint)) {
    OutOfRange2(cache, fileName, tableNumber, columnArg, rowArg);
  }
  return result;
}

double TABR1(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char mode, double x, int column) {
  TableSite site;
  return TABR1(cache, site, fileName, tableNumber, mode, x, column);
}

double TABR2(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char columnMode, char rowMode, double columnArg, double rowArg) {
  TableSite site;
  return TABR2(cache, site, fileName, tableNumber, columnMode, rowMode, columnArg, rowArg);
}

}  // namespace drivanto
