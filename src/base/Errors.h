#pragma once
// The kinds of failure that leave the model: an input/output or data error
// (a file that cannot be opened, read or written, a malformed number where one
// is needed) and a table lookup outside its table, which ends the program after
// ERROR.TAB has been written.

#include <stdexcept>
#include <string>

namespace drivanto {

// The message of an IoError shows its file name and reason with control bytes
// and bytes that are not UTF-8 escaped (\xNN), so it is never cut short.
class IoError : public std::runtime_error {
 public:
  // line 0 means the error does not belong to one line of the file.
  IoError(std::string file, int line, std::string reason);
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string file_;
  int line_;
  std::string reason_;
};

// A request the program cannot take as given (an unknown option or setting,
// a value of the wrong kind): the caller's to mend, exit code 2.
class UsageError : public std::invalid_argument {
 public:
  explicit UsageError(const std::string& message) : std::invalid_argument(message) {}
};

class TableRangeError : public std::runtime_error {
 public:
  // The two lines meant for ERROR.TAB, in UTF-8, and why the file could not
  // be written (empty when it was written).
  TableRangeError(std::string line1, std::string line2, std::string notWritten = {});
  const std::string& line1() const { return line1_; }
  const std::string& line2() const { return line2_; }
  const std::string& notWritten() const { return notWritten_; }

 private:
  std::string line1_;
  std::string line2_;
  std::string notWritten_;
};

// The file being read on this thread, so that a failure deep inside a reader
// (memory exhausted, say) can still name it. Readers hold one while they
// read; when an exception leaves the innermost of them, its name is kept for
// the handler to show.
class ReadingFile {
 public:
  explicit ReadingFile(const std::string& name);
  ~ReadingFile();
  ReadingFile(const ReadingFile&) = delete;
  ReadingFile& operator=(const ReadingFile&) = delete;
  // The innermost file being read, or nullptr.
  static const std::string* Current();
  // The file whose reading the last exception left, or "" (cleared when
  // reading begins anew).
  static std::string LeftByException();

 private:
  const std::string* name_;
  ReadingFile* outer_;
  int exceptions_;
};

// A failure that is not one of the program's own (memory exhausted, another
// standard exception) as a message, with the file whose reading it
// interrupted where there was one.
std::string DescribeUnexpected(const std::string& what);

}  // namespace drivanto
