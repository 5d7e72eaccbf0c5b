#include "base/Errors.h"

#include <utility>

namespace drivanto {

namespace {

std::string IoMessage(const std::string& file, int line, const std::string& reason) {
  std::string m = file;
  if (line > 0) m += ", line " + std::to_string(line);
  m += ": " + reason;
  return m;
}

}  // namespace

IoError::IoError(std::string file, int line, std::string reason)
    : std::runtime_error(IoMessage(file, line, reason)),
      file_(std::move(file)),
      line_(line),
      reason_(std::move(reason)) {}

TableRangeError::TableRangeError(std::string line1, std::string line2)
    : std::runtime_error(line1 + "\n" + line2), line1_(std::move(line1)), line2_(std::move(line2)) {}

}  // namespace drivanto
