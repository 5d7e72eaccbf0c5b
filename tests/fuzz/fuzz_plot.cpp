// Fuzzing of drivanto-plot's readers: a step trace (HistoryFromTrace) and
// result files 1 and 2 (HistoryFromResultFiles). The bytes are one file A,
// or two files A and B: a line "### NAME" starts B (SplitParts; NAME does
// not matter). In a private folder, A is read as a trace, A and B (when
// there is a B) as result files 1 and 2, and A alone as result file 1 and
// as result file 2.
//
// Every reading either gives a history or throws an IoError; nothing else
// may leave a reader. An IoError names a file it was given, in its message
// too, with a line of that file (or none) and no raw control bytes. A file
// that looks like UTF-16 (LooksLikeUtf16) is refused. A history holds one
// sample for every row: a trace's lines after the header that are not
// empty, a result file's lines after its two lines of headings (both files:
// the longer one's).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "base/Errors.h"
#include "base/Text.h"
#include "fuzz_support.h"
#include "run/History.h"

namespace {

using namespace drivanto::fuzz;

struct File {
  std::string name;
  std::string bytes;
  bool given = false;
};

std::size_t LineCount(const File& f) { return SplitRaw(f.bytes).size(); }

// Reads with `read` the files `given` and checks the outcome; `rows` is the
// number of samples the history must hold when the files read.
void Check(const std::string& what, const std::vector<const File*>& given,
           const std::function<drivanto::RunHistory()>& read, std::size_t rows) {
  bool utf16 = false;
  for (const File* f : given) utf16 = utf16 || drivanto::LooksLikeUtf16(f->bytes);
  try {
    const drivanto::RunHistory h = read();
    if (utf16) Fail(what + ": a file that looks like UTF-16 was read, not refused");
    if (h.samples().size() != rows) {
      Fail(what + ": " + std::to_string(h.samples().size()) + " samples from " +
           std::to_string(rows) + " rows");
    }
  } catch (const drivanto::IoError& e) {
    const File* named = nullptr;
    for (const File* f : given) {
      if (e.file() == f->name) named = f;
    }
    const std::string message = e.what();
    if (!named) Fail(what + ": the error names no file it was given: " + message);
    if (message.find(named->name) == std::string::npos) {
      Fail(what + ": the message does not show the file's name: " + message);
    }
    if (e.line() < 0 || static_cast<std::size_t>(e.line()) > LineCount(*named)) {
      Fail(what + ": the error names line " + std::to_string(e.line()) + " of a file of " +
           std::to_string(LineCount(*named)) + " lines: " + message);
    }
    if (!IsCleanText(message)) Fail(what + ": the message holds raw bytes: " + message);
  } catch (const std::exception& e) {
    Fail(what + ": an exception other than IoError: " + typeid(e).name() + ": " + e.what());
  } catch (...) {
    Fail(what + ": an exception that is not a std::exception");
  }
}

// The rows of a trace: its lines after the first that are not empty.
std::size_t TraceRows(const File& f) {
  const std::vector<RawLine> lines = SplitRaw(f.bytes);
  std::size_t rows = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) rows += !lines[i].text.empty();
  return rows;
}

// The rows of a result file: its lines after the first two.
std::size_t ResultRows(const File& f) {
  const std::size_t n = LineCount(f);
  return n > 2 ? n - 2 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PrivateFolder folder("plot");
  const std::vector<Part> parts =
      SplitParts(std::string_view(reinterpret_cast<const char*>(data), size));
  File a{folder.path() + "/A.TXT", parts[0].bytes, true};
  File b{folder.path() + "/B.TXT", parts.size() > 1 ? parts[1].bytes : std::string(),
         parts.size() > 1};
  WriteBytes(a.name, a.bytes);
  if (b.given) {
    WriteBytes(b.name, b.bytes);
  } else {
    ::unlink(b.name.c_str());
  }

  Check(
      "the trace", {&a}, [&] { return drivanto::HistoryFromTrace(a.name); }, TraceRows(a));
  if (b.given) {
    Check(
        "result files 1 and 2", {&a, &b},
        [&] { return drivanto::HistoryFromResultFiles(a.name, b.name); },
        std::max(ResultRows(a), ResultRows(b)));
  } else {
    Check(
        "result file 1", {&a}, [&] { return drivanto::HistoryFromResultFiles(a.name, ""); },
        ResultRows(a));
    Check(
        "result file 2", {&a}, [&] { return drivanto::HistoryFromResultFiles("", a.name); },
        ResultRows(a));
  }
  return 0;
}
