#pragma once
// Lookups in the numbered tables of the car's text files. TABR1 reads a
// one-dimensional table, TABR2 a two-dimensional one.
//
// A table file is read and scanned into numbers once per version of the file
// (data/CompiledTables.h). Whether the file has changed is learnt from the
// system's notifications on its folder: a thread listens for them and raises
// a flag. Inside a computation step (or another operation that reads tables
// as one: start-up, taking over a panel) the queue of notifications is read
// once, at the first lookup, and only when the flag says something came, so
// that a step asks the file system nothing while the files stay as they are;
// outside (tests, single lookups) the queue is read at every lookup. A file reported changed,
// moved, replaced or deleted is checked in full (status and bytes) before its
// next use. Where no notification can be had, every lookup checks the file's
// status (size, modification and change time, inode), and a file changed in
// the last two seconds (within the file system's timestamp resolution) is
// compared byte for byte. Either way an edit of a table file is seen by the
// next step at the latest, and by the next lookup outside a step.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "data/ChangeWatch.h"
#include "data/CompiledTables.h"
#include "data/TableText.h"

namespace drivanto {

class TableCache;

// One place in the model that looks up one table: it remembers the file and
// table it was resolved for and the compiled table, so that a lookup neither
// hashes names nor scans text. A change of the file name or table number
// resolves it again.
class TableSite {
 public:
  // Where the last lookup through this site found its row and column.
  LookupHint hint;

 private:
  friend class TableCache;
  std::string file_;
  std::string number_;
  const TableCache* cache_ = nullptr;
  void* entry_ = nullptr;
  uint64_t version_ = 0;
  const void* table_ = nullptr;
};

class TableCache {
 public:
  TableCache() = default;
  TableCache(const TableCache&) = delete;
  TableCache& operator=(const TableCache&) = delete;

  // The compiled tables of a file, checked as described above. Throw IoError
  // when the file cannot be read.
  const Table1& Get1(TableSite& site, const std::string& fileName, std::string_view number) {
    if (const void* t = Ready(site, fileName, number)) return *static_cast<const Table1*>(t);
    return Get(site, fileName, number, &Entry::tables1, CompileTable1);
  }
  const Table2& Get2(TableSite& site, const std::string& fileName, std::string_view number) {
    if (const void* t = Ready(site, fileName, number)) return *static_cast<const Table2*>(t);
    return Get(site, fileName, number, &Entry::tables2, CompileTable2);
  }

  // The bytes of a file that is not a table of numbered tables (the gear
  // table), checked as the tables are. Throws IoError when the file cannot
  // be read.
  const std::string& Text(TableSite& site, const std::string& fileName);

  // A computation step is under way between these two calls.
  void BeginStep() {
    inStep_ = true;
    drained_ = false;
  }
  void EndStep() { inStep_ = false; }

  // The SHA-256 (hex) of a file's bytes as they are now. Bytes this cache
  // has hashed before under the same name (the same file read by the runs
  // of a study) are not hashed again. Throws IoError.
  std::string Fingerprint(const std::string& fileName);

  // Folder where ERROR.TAB is written; empty means the current folder.
  std::string errorFolder;
  // Whether that folder is made when ERROR.TAB is written and it is not
  // there (a study makes a run's folder only when the run writes into it).
  bool makeErrorFolder = false;
  // When false every lookup reads its file anew (for comparisons).
  bool enabled = true;
  // When false no notifications are used: every lookup checks the file.
  bool notifications = true;
  // How many times a file was read and scanned into tokens (for tests).
  int reads = 0;
  // Whether a notification has come that the next step will read (the
  // listener hears one some microseconds after the change).
  bool ChangeHeard() const { return watch_.MayHaveNews(); }

 private:
  struct Entry {
    std::string resolved;
    int64_t size = -1;
    int64_t mtimeSec = 0, mtimeNsec = 0;
    // The change time, which no program can set back: a copy that keeps the
    // modification time of the file it replaces still changes it.
    int64_t ctimeSec = 0, ctimeNsec = 0;
    uint64_t inode = 0, device = 0;
    // The file had changed too shortly before it was read for its status to
    // prove it unchanged later (only where there are no notifications).
    bool recent = true;
    int watch = -1;     // the folder's watch, -1 when the file is not watched
    bool stale = true;  // must be checked in full before its next use
    std::string name;   // the part after the folder, to match notifications
    uint64_t version = 0;
    TableFile file;
    std::map<std::string, Table1, std::less<>> tables1;
    std::map<std::string, Table2, std::less<>> tables2;
  };

  // The site's table when nothing needs checking: inside a step whose queue
  // has been read, a watched file known to be unchanged, the same file,
  // table and version as the site last resolved. nullptr otherwise.
  const void* Ready(const TableSite& site, const std::string& fileName,
                    std::string_view number) const {
    if (!inStep_ || !drained_ || site.cache_ != this || !enabled) return nullptr;
    const Entry& e = *static_cast<const Entry*>(site.entry_);
    if (e.watch < 0 || e.stale || site.version_ != e.version) return nullptr;
    if (site.file_ != fileName || site.number_ != number) return nullptr;
    return site.table_;
  }
  void Drain();
  Entry& Fresh(const std::string& fileName);
  void Check(Entry& e, const std::string& fileName);
  template <typename T, typename Compile>
  const T& Get(TableSite& site, const std::string& fileName, std::string_view number,
               std::map<std::string, T, std::less<>> Entry::*tables, Compile compile);

  std::unordered_map<std::string, std::unique_ptr<Entry>> entries_;
  struct Fingerprinted {
    std::string bytes, hash;
  };
  std::unordered_map<std::string, Fingerprinted> fingerprints_;
  ChangeWatch watch_;
  uint64_t nextVersion_ = 1;
  bool inStep_ = false;
  bool drained_ = false;
  Entry uncached_;
};

// The lookups of the model: through a site that remembers its table.
double TABR1(TableCache& cache, TableSite& site, const std::string& fileName,
             std::string_view tableNumber, char mode, double x, int column);
double TABR2(TableCache& cache, TableSite& site, const std::string& fileName,
             std::string_view tableNumber, char columnMode, char rowMode, double columnArg,
             double rowArg);

// The same without a site, for lookups made once (start-up, tests).
double TABR1(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char mode, double x, int column);
double TABR2(TableCache& cache, const std::string& fileName, const std::string& tableNumber,
             char columnMode, char rowMode, double columnArg, double rowArg);

// The tables as a run holds them: one cache, shared by the run and every
// copy made of it (so a copy of a run reads no file its original has read).
// Copies that share a cache step in one thread at a time.
class SharedTables {
 public:
  SharedTables() : cache_(std::make_shared<TableCache>()) {}
  TableCache& operator*() const { return *cache_; }
  TableCache* operator->() const { return cache_.get(); }
  operator TableCache&() const { return *cache_; }

 private:
  std::shared_ptr<TableCache> cache_;
};

// Brackets one computation step, or another operation that reads tables as
// one, for the cache (see above).
class StepOfLookups {
 public:
  explicit StepOfLookups(TableCache& cache) : cache_(cache) { cache_.BeginStep(); }
  ~StepOfLookups() { cache_.EndStep(); }
  StepOfLookups(const StepOfLookups&) = delete;
  StepOfLookups& operator=(const StepOfLookups&) = delete;

 private:
  TableCache& cache_;
};

}  // namespace drivanto
