#include "model/ResultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "base/Errors.h"
#include "base/Files.h"

namespace drivanto {

namespace {

// A file is written by one run at a time: a lock on the open file (held
// until it is closed, also against another thread of the same program)
// keeps a second run from splicing its rows into the first's. Nothing is
// emptied before the lock is held.
void LockForWriting(int fd, const std::string& name) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return;
  const int err = errno;
  ::close(fd);
  if (err == EAGAIN || err == EACCES) {
    throw IoError(name, 0,
                  "is being written by another run (a result file or trace is written by one "
                  "run at a time; give this run another name)");
  }
  if (err == EINVAL || err == ENOLCK || err == EOPNOTSUPP) return;  // no locks here
  throw IoError(name, 0, ErrnoReason(err));
}

}  // namespace

void ResultFile::Create(const std::string& name) {
  Close();
  name_ = name;
  const int fd = ::open(ResolveCase(name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw IoError(name, 0, ErrnoReason(errno));
  LockForWriting(fd, name);
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    throw IoError(name, 0, ErrnoReason(err));
  }
  fd_ = fd;
  size_ = 0;
}

void ResultFile::OpenAppend(const std::string& name) {
  Close();
  name_ = name;
  const int fd = ::open(ResolveCase(name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) throw IoError(name, 0, ErrnoReason(errno));
  LockForWriting(fd, name);
  fd_ = fd;
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
  const int err = WriteAll(fd_, pending_.data(), pending_.size(), &written);
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
