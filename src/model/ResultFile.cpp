#include "model/ResultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "base/Errors.h"
#include "base/Files.h"

namespace drivanto {

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
  pending_ += lineEnd;
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
  const std::size_t end = std::string_view(pending_).substr(0, written).rfind(lineEnd);
  const std::size_t keep = end == std::string_view::npos ? 0 : end + lineEnd.size();
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
