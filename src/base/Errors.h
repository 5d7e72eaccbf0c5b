#pragma once
// The two kinds of failure that leave the model: an input/output or data error
// (a file that cannot be opened, read or written, a malformed number where one
// is needed) and a table lookup outside its table, which ends the program after
// ERROR.TAB has been written.

#include <stdexcept>
#include <string>

namespace drivanto {

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

class TableRangeError : public std::runtime_error {
 public:
  // The two lines written to ERROR.TAB, in UTF-8.
  TableRangeError(std::string line1, std::string line2);
  const std::string& line1() const { return line1_; }
  const std::string& line2() const { return line2_; }

 private:
  std::string line1_;
  std::string line2_;
};

}  // namespace drivanto
