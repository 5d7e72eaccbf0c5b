#include "model/Sim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"

namespace drivanto {

double SystemClock::Read() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ms * 0.001;
}

// ---- drive-cycle file ----

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

static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool CycleFile::AtEnd() {
  if (!file_) return true;
  int c;
  while ((c = Get()) != EOF && IsSpace(c)) {
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
    while ((c = Get()) != EOF && IsSpace(c)) {
    }
    if (c == EOF) {
      throw IoError(name_, line_,
                    "row " + std::to_string(row_) + " ends after " + std::to_string(k) +
                        " of its six numbers");
    }
    const int line = line_;
    std::string word;
    while (c != EOF && !IsSpace(c) && word.size() < 250) {
      word.push_back(static_cast<char>(c));
      c = Get();
    }
    Unget(c);
    double value = 0;
    if (!IsPlainNumber(word, &value)) {
      throw IoError(name_, line, "row " + std::to_string(row_) + ": \"" + word +
                                     "\" is not a number (column " + std::to_string(k + 1) + ")");
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

// ---- result files ----

void ResultFile::Create(const std::string& name) {
  Close();
  name_ = name;
  fd_ = ::open(ResolveCase(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw IoError(name, 0, ErrnoReason(errno));
  size_ = 0;
}

void ResultFile::OpenAppend(const std::string& name) {
  Close();
  name_ = name;
  fd_ = ::open(ResolveCase(name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0) throw IoError(name, 0, ErrnoReason(errno));
  struct stat st;
  size_ = ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

std::string& ResultFile::BeginLine() {
  if (fd_ < 0) throw IoError(name_, 0, "the file is not open");
  return pending_;
}

void ResultFile::EndLine() {
  pending_ += "\r\n";
  if (!buffered || pending_.size() >= (1u << 16)) Flush();
}

void ResultFile::WriteLine(const std::string& line) {
  BeginLine() += line;
  EndLine();
}

void ResultFile::Flush() {
  if (fd_ < 0 || pending_.empty()) return;
  std::size_t written = 0;
  int err = 0;
  while (written < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + written, pending_.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (err == 0) {
    size_ += static_cast<int64_t>(written);
    // The buffer keeps its capacity for the rows to come.
    pending_.clear();
    return;
  }
  // Only whole lines stay: the file is cut after the last line written in full.
  const std::size_t end = std::string_view(pending_).substr(0, written).rfind("\r\n");
  const std::size_t keep = end == std::string_view::npos ? 0 : end + 2;
  if (::ftruncate(fd_, static_cast<off_t>(size_ + static_cast<int64_t>(keep))) == 0) {
    size_ += static_cast<int64_t>(keep);
  }
  pending_.clear();
  throw IoError(name_, 0, ErrnoReason(err));
}

void ResultFile::Close() {
  if (fd_ < 0) return;
  try {
    Flush();
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  ::close(fd_);
  fd_ = -1;
}

}  // namespace drivanto
