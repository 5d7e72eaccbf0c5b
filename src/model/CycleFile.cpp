#include "model/CycleFile.h"

#include <cstdio>
#include <string_view>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "base/Words.h"

namespace drivanto {

void CycleFile::Open(const std::string& name) {
  Close();
  name_ = name;
  row_ = 0;
  line_ = 1;
  std::string bytes = ReadFileBytes(name);
  RejectUtf16(name, std::string_view(bytes).substr(0, 1024));
  bytes_ = std::make_shared<const std::string>(std::move(bytes));
  pos_ = 0;
}

void CycleFile::Close() {
  bytes_.reset();
  pos_ = 0;
}

int CycleFile::Get() {
  if (pos_ >= bytes_->size()) return EOF;
  const int c = static_cast<unsigned char>((*bytes_)[pos_++]);
  if (c == '\n') ++line_;
  return c;
}
void CycleFile::Unget(int c) {
  if (c == EOF) return;
  if (c == '\n') --line_;
  --pos_;
}

bool CycleFile::AtEnd() {
  if (!bytes_) return true;
  int c;
  while ((c = Get()) != EOF && IsWordSpace(c)) {
  }
  if (c == EOF) return true;
  Unget(c);
  return false;
}

void CycleFile::ReadRow(double out[6]) {
  if (!bytes_) throw IoError(name_, line_, "the file is not open");
  ++row_;
  for (int k = 0; k < 6; ++k) {
    int c;
    while ((c = Get()) != EOF && IsWordSpace(c)) {
    }
    if (c == EOF) {
      throw IoError(name_, line_,
                    "row " + std::to_string(row_) + " ends after " + std::to_string(k) +
                        " of its six numbers");
    }
    const int line = line_;
    std::string word;
    while (c != EOF && !IsWordSpace(c) && word.size() < 250) {
      word.push_back(static_cast<char>(c));
      c = Get();
    }
    Unget(c);
    double value = 0;
    if (!IsPlainNumber(word, &value)) {
      throw IoError(name_, line,
                    "row " + std::to_string(row_) + ": \"" + word + "\" is not a number (column " +
                        std::to_string(k + 1) + ")");
    }
    out[k] = value;
  }
  // The rest of the sixth number's line is skipped.
  int c;
  while ((c = Get()) != EOF && c != '\n' && c != '\r') {
  }
  if (c == '\r') {
    int d = Get();
    if (d != '\n') Unget(d);
  }
}

}  // namespace drivanto
