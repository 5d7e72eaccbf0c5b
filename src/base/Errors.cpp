#include "base/Errors.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "base/Text.h"

namespace drivanto {

namespace {

std::string IoMessage(const std::string& file, int line, const std::string& reason) {
  // A message always names its file, also when the name is empty.
  std::string m = file.empty() ? std::string("(a file without a name)") : Printable(file);
  if (line > 0) m += ", line " + std::to_string(line);
  m += ": " + Printable(reason);
  return m;
}

}  // namespace

IoError::IoError(std::string file, int line, std::string reason)
    : std::runtime_error(IoMessage(file, line, reason)),
      file_(std::move(file)),
      line_(line),
      reason_(std::move(reason)) {}

TableRangeError::TableRangeError(std::string line1, std::string line2, std::string notWritten)
    : std::runtime_error(line1 + "\n" + line2),
      line1_(std::move(line1)),
      line2_(std::move(line2)),
      notWritten_(std::move(notWritten)) {}

namespace {
thread_local ReadingFile* innermost = nullptr;
// Kept without allocating, as the exception may be a lack of memory.
thread_local char leftName[4096];
thread_local bool leftRecorded = false;
}  // namespace

ReadingFile::ReadingFile(const std::string& name)
    : name_(&name), outer_(innermost), exceptions_(std::uncaught_exceptions()) {
  if (!outer_) {
    leftRecorded = false;
    leftName[0] = '\0';
  }
  innermost = this;
}

ReadingFile::~ReadingFile() {
  innermost = outer_;
  if (std::uncaught_exceptions() > exceptions_ && !leftRecorded) {
    const std::size_t n = std::min(name_->size(), sizeof leftName - 1);
    std::memcpy(leftName, name_->data(), n);
    leftName[n] = '\0';
    leftRecorded = true;
  }
}

const std::string* ReadingFile::Current() { return innermost ? innermost->name_ : nullptr; }

std::string ReadingFile::LeftByException() {
  return leftRecorded ? std::string(leftName) : std::string();
}

std::string DescribeUnexpected(const std::string& what) {
  const std::string file = ReadingFile::LeftByException();
  if (file.empty()) return Printable(what);
  return Printable(file) + ": " + Printable(what) + " while reading this file";
}

}  // namespace drivanto
