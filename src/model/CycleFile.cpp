#include "model/CycleFile.h"

#include <cerrno>
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
  std::string real = ResolveCase(name);
  file_ = std::fopen(real.c_str(), "rb");
  if (!file_) throw IoError(name, 0, ErrnoReason(errno));
  char head[1024];
  const std::size_t n = std::fread(head, 1, sizeof head, file_);
  try {
    RejectUtf16(name, std::string_view(head, n));
  } catch (...) {
    Close();
    throw;
  }
  std::rewind(file_);
}

void CycleFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

int CycleFile::Get() {
  int c = std::fgetc(file_);
  if (c == '\n') ++line_;
  return c;
}
void CycleFile::Unget(int c) {
  if (c == EOF) return;
  if (c == '\n') --line_;
  std::ungetc(c, file_);
}

bool CycleFile::AtEnd() {
  if (!file_) return true;
  int c;
  while ((c = Get()) != EOF && IsWordSpace(c)) {
  }
  if (c == EOF) {
    if (std::ferror(file_)) throw IoError(name_, line_, ErrnoReason(errno ? errno : EIO));
    return true;
  }
  Unget(c);
  return false;
}

void CycleFile::ReadRow(double out[6]) {
  if (!file_) throw IoError(name_, line_, "the file is not open");
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
