#pragma once
// The drive-cycle file as the cycle reader walks it: six numbers a row. The
// file is read whole when it is opened, so that following it asks the file
// system nothing, and a copy of a run follows its own copy of the position.

#include <cstddef>
#include <memory>
#include <string>

namespace drivanto {

// The drive-cycle file, open while it is followed.
class CycleFile {
 public:
  // Opens (or reopens from its beginning, read anew) the named file. Throws
  // IoError.
  void Open(const std::string& name);
  void Close();
  bool IsOpen() const { return bytes_ != nullptr; }
  // True when nothing but blanks and line ends is left.
  bool AtEnd();
  // Reads six numbers (line ends count as blanks) and skips the rest of the
  // line of the sixth. Throws IoError naming the file, the row and the reason.
  void ReadRow(double out[6]);

 private:
  int Get();
  void Unget(int c);
  std::shared_ptr<const std::string> bytes_;
  std::size_t pos_ = 0;
  std::string name_;
  int row_ = 0;   // rows read since the file was opened
  int line_ = 1;  // the line being read
};

}  // namespace drivanto
