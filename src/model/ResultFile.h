#pragma once
// A result file: rows written as the run goes, whole rows only.

#include <cstdint>
#include <string>

namespace drivanto {

// A result file, open for the run (and any other file of lines a run writes
// as it goes, such as a step trace).
class ResultFile {
 public:
  ResultFile() = default;
  // A copy is a closed file of the same kind: a copy of a run writes into
  // no file its original writes.
  ResultFile(const ResultFile& other) : buffered(other.buffered), lineEnd(other.lineEnd) {}
  ResultFile& operator=(const ResultFile& other) {
    if (this != &other) {
      Close();
      buffered = other.buffered;
      lineEnd = other.lineEnd;
    }
    return *this;
  }
  ~ResultFile() {
    try {
      Close();
    } catch (...) {
    }
  }

  void Create(const std::string& name);      // empties an existing file
  void OpenAppend(const std::string& name);  // keeps its rows
  // Writes a line ended by CR LF. Unbuffered files hand every line to the
  // system at once.
  void WriteLine(const std::string& line);
  // A line built in place: append its text to the returned buffer, then
  // EndLine ends it with CR LF.
  std::string& BeginLine();
  void EndLine();
  // Hands the collected lines to the system. When that fails (a full disk,
  // the file-size limit) the file is cut back to its last complete line, the
  // lines not written are dropped and IoError names the file and the reason.
  void Flush();
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }

  // The batch runner collects rows and writes them in large pieces.
  bool buffered = false;
  // How lines end: CR LF in result files.
  std::string lineEnd = "\r\n";

 private:
  int fd_ = -1;
  int64_t size_ = 0;  // bytes of complete lines in the file
  std::string name_;
  std::string pending_;
};

}  // namespace drivanto
