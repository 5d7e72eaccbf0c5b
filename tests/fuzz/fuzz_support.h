#pragma once
// What the fuzz harnesses of the file readers share: failing loudly, private
// folders under the temporary folder, a private working copy of the bundled
// data folder that is put back as it was after every run, the confinement of
// file names taken from fuzzed bytes to that copy (so a run never reads or
// writes a file outside it), and a batch run with the checks every run must
// pass whatever its input.
//
// Everything here is deterministic: the same input gives the same run.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "cli/Batch.h"

namespace drivanto::fuzz {

// The text with control bytes (but line ends and tabs) shown as \xNN, so that
// a NUL byte does not cut a report short.
inline std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\n' && c != '\t') || b == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

// Reports a fault of the program and aborts, so that the fuzzer keeps the
// input as a reproducer.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** drivanto fuzz: %s\n", Escaped(what).c_str());
  std::fflush(stderr);
  std::abort();
}

// FNV-1a over the input: choices that vary from input to input but stay the
// same for one input.
inline uint64_t Hash(const uint8_t* data, std::size_t size) {
  uint64_t h = 1469598103934665603ULL;
  for (std::size_t i = 0; i < size; ++i) {
    h ^= data[i];
    h *= 1099511628211ULL;
  }
  return h;
}

// The temporary folder ($TMPDIR, else /tmp), as an absolute path.
inline std::string TempRoot() {
  const char* t = std::getenv("TMPDIR");
  std::error_code ec;
  std::filesystem::path p = (t && *t) ? t : "/tmp";
  p = std::filesystem::absolute(p, ec);
  return p.lexically_normal().string();
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot write " + path + ": " + std::strerror(errno));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("cannot write " + path + ": " + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

// The whole file; empty, with *exists false, when it cannot be opened.
inline std::string ReadBytes(const std::string& path, bool* exists = nullptr) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (exists) *exists = fd >= 0;
  if (fd < 0) return bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

// A fresh folder under the temporary folder, removed with everything in it
// when the process ends.
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& label) {
    std::string name = TempRoot() + "/drivanto-fuzz-" + label + "-XXXXXX";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) Fail("cannot create a folder under " + TempRoot());
    path_ = buf.data();
  }
  ~PrivateFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A private working copy of the bundled data folder (DRIVANTO_DATA_DIR),
// copied once per process. A run may write result files, ERROR.TAB and
// temporary files into it, or overwrite a file of it; Restore() removes what
// the run added and writes anew what it changed, so every input meets the
// same folder.
class DataCopy {
 public:
  DataCopy() : folder_("data") {
    namespace fs = std::filesystem;
    const fs::path source = DRIVANTO_DATA_DIR;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(source, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string rel = fs::relative(it->path(), source).string();
      const std::string to = folder_.path() + "/" + rel;
      if (it->is_directory()) {
        dirs_.insert(rel);
        fs::create_directories(to);
      } else if (it->is_regular_file()) {
        bool exists = false;
        File f;
        f.bytes = ReadBytes(it->path().string(), &exists);
        if (!exists) Fail("cannot read " + it->path().string());
        WriteBytes(to, f.bytes);
        f.status = Status(to);
        files_[rel] = std::move(f);
      }
    }
    if (ec || files_.empty()) Fail("cannot copy the bundled data from " + source.string());
  }
  DataCopy(const DataCopy&) = delete;
  DataCopy& operator=(const DataCopy&) = delete;

  const std::string& path() const { return folder_.path(); }

  // What a run changed in the copy, in words: the files and folders it
  // added, removed or wrote ("" when nothing). Restore() puts it back.
  std::string Changes() const {
    namespace fs = std::filesystem;
    std::string changes;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder_.path(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string rel = fs::relative(it->path(), folder_.path()).string();
      const bool known = it->is_directory() ? dirs_.count(rel) > 0 : files_.count(rel) > 0;
      if (!known) {
        changes += " added " + rel + ";";
        if (it->is_directory()) it.disable_recursion_pending();
      }
    }
    if (ec) Fail("cannot list " + folder_.path());
    for (const std::string& d : dirs_) {
      if (!fs::is_directory(folder_.path() + "/" + d, ec)) changes += " removed " + d + "/;";
    }
    for (const auto& [rel, f] : files_) {
      if (!(Status(folder_.path() + "/" + rel) == f.status)) {
        changes += " wrote or removed " + rel + ";";
      }
    }
    return changes;
  }

  void Restore() {
    namespace fs = std::filesystem;
    std::vector<fs::path> extra;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder_.path(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string rel = fs::relative(it->path(), folder_.path()).string();
      const bool known = it->is_directory() ? dirs_.count(rel) > 0 : files_.count(rel) > 0;
      if (!known) {
        extra.push_back(it->path());
        if (it->is_directory()) it.disable_recursion_pending();
      }
    }
    if (ec) Fail("cannot list " + folder_.path());
    for (const fs::path& p : extra) fs::remove_all(p, ec);
    for (const std::string& d : dirs_) fs::create_directories(folder_.path() + "/" + d, ec);
    for (auto& [rel, f] : files_) {
      const std::string full = folder_.path() + "/" + rel;
      if (Status(full) == f.status) continue;
      fs::remove_all(full, ec);
      WriteBytes(full, f.bytes);
      f.status = Status(full);
    }
  }

 private:
  // What proves a file unchanged: a write changes its size or change time, a
  // file renamed over it has another inode.
  struct FileStatus {
    bool exists = false;
    int64_t size = 0, inode = 0, ctimeSec = 0, ctimeNsec = 0, mode = 0;
    bool operator==(const FileStatus&) const = default;
  };
  struct File {
    std::string bytes;
    FileStatus status;
  };
  static FileStatus Status(const std::string& path) {
    struct stat st;
    FileStatus s;
    if (::lstat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.size = st.st_size;
    s.inode = static_cast<int64_t>(st.st_ino);
    s.ctimeSec = st.st_ctim.tv_sec;
    s.ctimeNsec = st.st_ctim.tv_nsec;
    s.mode = st.st_mode;
    return s;
  }

  PrivateFolder folder_;
  std::set<std::string> dirs_;
  std::map<std::string, File> files_;
};

// The one copy of this process.
inline DataCopy& Data() {
  static DataCopy copy;
  return copy;
}

// ---- file names from fuzzed bytes ----

// The lines of file bytes as the program's readers split them (CR LF, LF or
// a lone CR), each with its own line end, so that chosen lines can be
// replaced and all others kept byte for byte.
struct RawLine {
  std::string text;
  std::string end;
};

inline std::vector<RawLine> SplitRaw(std::string_view bytes) {
  std::vector<RawLine> lines;
  std::size_t start = 0, i = 0;
  while (i < bytes.size()) {
    const char c = bytes[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    const std::size_t endLength = (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
    lines.push_back({std::string(bytes.substr(start, i - start)),
                     std::string(bytes.substr(i, endLength))});
    i += endLength;
    start = i;
  }
  if (start < bytes.size()) lines.push_back({std::string(bytes.substr(start)), {}});
  return lines;
}

inline std::string JoinRaw(const std::vector<RawLine>& lines) {
  std::string out;
  for (const RawLine& l : lines) out += l.text + l.end;
  return out;
}

// A name kept inside the folder it is relative to: the parts between "/" that
// are empty (a leading "/"), "." or begin with ".." are dropped. (Dropping
// every part that begins with "..", not only "..", keeps the name inside even
// when the program cuts it to 250 characters in the middle of such a part.)
inline std::string ConfineRelative(std::string_view name) {
  std::string out;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t slash = name.find('/', start);
    if (slash == std::string_view::npos) slash = name.size();
    const std::string_view part = name.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == "." || part.substr(0, 2) == "..") continue;
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Applies ConfineRelative to the given lines (counted from 1) of file bytes;
// a UTF-8 byte-order mark in front of a line stays in front of it.
inline std::string ConfineLines(std::string_view bytes, int first, int last) {
  std::vector<RawLine> lines = SplitRaw(bytes);
  for (int n = first; n <= last && n <= static_cast<int>(lines.size()); ++n) {
    std::string& t = lines[static_cast<std::size_t>(n - 1)].text;
    std::string_view v = t;
    const bool mark = v.substr(0, kUtf8Mark.size()) == kUtf8Mark;
    if (mark) v.remove_prefix(kUtf8Mark.size());
    t = (mark ? std::string(kUtf8Mark) : std::string()) + ConfineRelative(v);
  }
  return JoinRaw(lines);
}

// The names of a snapshot that a run may open (its lines 3, 81 to 94 and 98)
// kept inside `folder`: a name beginning with kSeedFolder (where the seeds
// were saved) is taken as the same name in `folder`, any other as a name
// relative to it (ConfineRelative). All other bytes stay as they are.
constexpr std::string_view kSeedFolder = "/tmp/drivanto-fuzz-data";

inline std::string ConfineSnapshotNames(std::string_view bytes, const std::string& folder) {
  std::vector<RawLine> lines = SplitRaw(bytes);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t n = i + 1;
    if (n != 3 && (n < 81 || n > 94) && n != 98) continue;
    std::string& t = lines[i].text;
    if (t.empty()) continue;
    std::string_view rest = t;
    if (rest.substr(0, kSeedFolder.size()) == kSeedFolder) rest.remove_prefix(kSeedFolder.size());
    const std::string inside = ConfineRelative(rest);
    t = inside.empty() ? folder : folder + "/" + inside;
  }
  return JoinRaw(lines);
}

// Every occurrence of kSeedFolder in the bytes replaced by `folder`.
inline std::string WithFolder(std::string_view bytes, const std::string& folder) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t at; (at = bytes.find(kSeedFolder, start)) != std::string_view::npos;
       start = at + kSeedFolder.size()) {
    out.append(bytes.substr(start, at - start));
    out += folder;
  }
  out.append(bytes.substr(start));
  return out;
}

// ---- inputs of several files ----

// An input that stands for several files: the bytes before the first line
// "### NAME" are the first part (its name empty), every line "### NAME"
// begins a part of that name, which holds the bytes up to the line end
// before the next such line (or to the end).
struct Part {
  std::string name;
  std::string bytes;
};

inline std::vector<Part> SplitParts(std::string_view bytes) {
  constexpr std::string_view kHead = "### ";
  std::vector<Part> parts{{}};
  std::size_t start = 0;  // where the bytes of the last part begin
  for (std::size_t pos = 0;;) {
    std::size_t end = bytes.find('\n', pos);
    const bool last = end == std::string_view::npos;
    if (last) end = bytes.size();
    if (bytes.substr(pos, kHead.size()) == kHead) {
      // The line end before the header belongs to it.
      parts.back().bytes = std::string(bytes.substr(start, pos > start ? pos - 1 - start : 0));
      parts.push_back(
          {std::string(bytes.substr(pos + kHead.size(), end - pos - kHead.size())), {}});
      start = last ? end : end + 1;
    }
    if (last) break;
    pos = end + 1;
  }
  parts.back().bytes = std::string(bytes.substr(start));
  return parts;
}

// ---- batch runs ----

struct BatchOutput {
  int code = -1;
  std::string out, err;
};

// Whether the bytes are UTF-8 text (well-formed, no surrogates, nothing above
// U+10FFFF) without control bytes other than line feeds.
inline bool IsCleanText(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size()) {
    const auto b = static_cast<unsigned char>(t[i]);
    if (b < 0x80) {
      if ((b < 0x20 && b != '\n') || b == 0x7F) return false;
      ++i;
      continue;
    }
    int extra = 0;
    uint32_t cp = 0, least = 0;
    if (b >= 0xC2 && b <= 0xDF) extra = 1, cp = b & 0x1F, least = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) extra = 2, cp = b & 0x0F, least = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) extra = 3, cp = b & 0x07, least = 0x10000;
    else return false;
    if (i + static_cast<std::size_t>(extra) >= t.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(t[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

// The message of a run that failed with code 1 is its last line beginning
// "drivanto-batch: ". An input/output or data error says "FILE: REASON" (the
// reason after the last ": "); memory running out may name no file. A
// message without its reason was cut short (a NUL byte in a C string cuts
// what() there); an exception other than these that reaches the runner
// ("... while reading this file", or no file at all) is a fault of the
// program, not of its input.
inline void CheckFailureMessage(const std::string& err) {
  constexpr std::string_view kPrefix = "drivanto-batch: ";
  std::string message;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kPrefix, 0) == 0) message = line.substr(kPrefix.size());
  }
  if (message.empty()) Fail("a run that failed with code 1 printed no \"drivanto-batch: \" message:\n" + err);
  const bool memory = message.find("out of memory") != std::string::npos;
  const std::string_view unexpected = " while reading this file";
  if (!memory && message.size() >= unexpected.size() &&
      message.compare(message.size() - unexpected.size(), unexpected.size(), unexpected) == 0) {
    Fail("an unexpected exception ended the run: " + message);
  }
  const std::size_t colon = message.rfind(": ");
  if (!memory && (colon == std::string::npos || colon + 2 >= message.size())) {
    Fail("the failure message gives no reason (cut short?): \"" + message + "\"");
  }
}

// Runs drivanto-batch with the arguments and checks what every run must do,
// whatever its input: return 0, 1 or 3 (2 is a usage error, which the
// harnesses never make), print a summary on success, say why on failure in
// a whole message (no NUL byte, a reason: CheckFailureMessage) of clean
// UTF-8 text (bytes of a file shown escaped), and let no exception escape.
// Then puts the data copy back as it was. With DRIVANTO_FUZZ_VERBOSE set in
// the environment, every run's exit code and output go to the error stream.
inline BatchOutput CheckedBatchRun(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  BatchOutput r;
  try {
    r.code = RunBatch(args, out, err);
  } catch (const std::exception& e) {
    Fail(std::string("an exception left RunBatch: ") + typeid(e).name() + ": " + e.what());
  } catch (...) {
    Fail("an exception that is not a std::exception left RunBatch");
  }
  r.out = out.str();
  r.err = err.str();
  static const bool verbose = std::getenv("DRIVANTO_FUZZ_VERBOSE") != nullptr;
  if (verbose) std::fprintf(stderr, "exit code %d\n%s%s", r.code, r.out.c_str(), Escaped(r.err).c_str());
  if (r.code != 0 && r.code != 1 && r.code != 3) {
    Fail("RunBatch returned " + std::to_string(r.code) + " (0, 1 or 3 expected); error output:\n" + r.err);
  }
  if (r.code == 0 && r.out.find("end reason") == std::string::npos) {
    Fail("a run that ended with code 0 printed no summary; output:\n" + r.out);
  }
  if (r.code != 0 && r.err.empty()) Fail("a run that failed with code " + std::to_string(r.code) + " said nothing");
  if (r.err.find('\0') != std::string::npos) {
    Fail("the error message holds a NUL byte, which cuts it short on a terminal:\n" + r.err);
  }
  if (!IsCleanText(r.err)) {
    Fail("the error output is not clean UTF-8 text (raw bytes of a file, control bytes):\n" + r.err);
  }
  if (r.code == 1) CheckFailureMessage(r.err);
  Data().Restore();
  return r;
}

// A summary (on either stream) without the lines that time the run on the
// wall clock.
inline std::string WithoutTimes(const std::string& summary) {
  std::string kept;
  std::istringstream in(summary);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("wall time", 0) == 0 || line.rfind("steps/second", 0) == 0) continue;
    kept += line + "\n";
  }
  return kept;
}

// writeInputs writes the input files into the data copy, then the run
// follows (CheckedBatchRun). When `twice`, the inputs are written and the
// run made a second time, which must give the same exit code, messages and
// summary: nothing of one run may reach the next, and a run depends on its
// inputs alone. DRIVANTO_FUZZ_TWICE set in the environment makes every run
// twice. Returns the first run's outcome.
template <typename WriteInputs>
BatchOutput FuzzBatch(WriteInputs writeInputs, const std::vector<std::string>& args, bool twice) {
  static const bool always = std::getenv("DRIVANTO_FUZZ_TWICE") != nullptr;
  twice = twice || always;
  writeInputs();
  const BatchOutput first = CheckedBatchRun(args);
  if (!twice) return first;
  writeInputs();
  const BatchOutput second = CheckedBatchRun(args);
  if (second.code != first.code || WithoutTimes(second.err) != WithoutTimes(first.err) ||
      WithoutTimes(second.out) != WithoutTimes(first.out)) {
    Fail("the same run made twice gave exit codes " + std::to_string(first.code) + " and " +
         std::to_string(second.code) + "\nfirst:\n" + WithoutTimes(first.out) +
         WithoutTimes(first.err) + "second:\n" + WithoutTimes(second.out) + WithoutTimes(second.err));
  }
  return first;
}

}  // namespace drivanto::fuzz
