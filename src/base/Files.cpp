#include "base/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/Errors.h"
#include "base/Text.h"

namespace drivanto {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The entry of folder whose name equals part but for letter case, or "".
std::string FindIgnoringCase(const std::string& folder, const std::string& part) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (SameIgnoringCase(name, part)) return name;
  }
  return {};
}

}  // namespace

bool IsAbsolutePath(std::string_view name) { return !name.empty() && name[0] == '/'; }

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string r(folder);
  r += '/';
  r += name;
  return r;
}

std::string AbsolutePath(const std::string& path) {
  if (IsAbsolutePath(path)) return path;
  std::error_code ec;
  const std::string cwd = std::filesystem::current_path(ec).string();
  if (ec) return path;
  if (path.empty() || path == ".") return cwd;
  return JoinPath(cwd, path);
}

int WriteAll(int fd, const char* data, std::size_t size, std::size_t* written) {
  *written = 0;
  while (*written < size) {
    const ssize_t n = ::write(fd, data + *written, size - *written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    *written += static_cast<std::size_t>(n);
  }
  return 0;
}

std::string ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::string ProgramBeside(const std::string& name) {
  const std::string folder = ProgramFolder();
  if (folder.empty()) return name;
  const std::string beside = JoinPath(folder, name);
  return ::access(beside.c_str(), X_OK) == 0 ? beside : name;
}

std::string LastPathPart(std::string_view path) {
  std::size_t pos = path.find_last_of("/\\");
  if (pos == std::string_view::npos) return std::string(path);
  return std::string(path.substr(pos + 1));
}

std::string ResolveCase(const std::string& path) {
  // The system would read such a name only up to that character: another
  // file than the one named.
  if (path.find('\0') != std::string::npos) {
    throw IoError(path, 0, "the name holds a character of code 0, which no file name can");
  }
  if (path.empty() || Exists(path)) return path;
  const bool absolute = IsAbsolutePath(path);
  std::string built = absolute ? "/" : "";
  std::size_t start = absolute ? 1 : 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    start = slash + 1;
    if (part.empty()) continue;
    auto join = [&](const std::string& p) {
      if (built.empty()) return p;
      return built.back() == '/' ? built + p : built + "/" + p;
    };
    std::string next = join(part);
    if (part != "." && part != ".." && !Exists(next)) {
      std::string alt = FindIgnoringCase(built.empty() ? "." : built, part);
      if (alt.empty()) return path;
      next = join(alt);
    }
    built = next;
  }
  return built;
}

std::string ErrnoReason(int err) {
  switch (err) {
    case ENOENT: return "file not found";
    case EACCES:
    case EPERM: return "access denied";
    case EISDIR: return "is a folder, not a file";
    case ENOTDIR: return "a part of the path is not a folder";
    case ENOSPC: return "disk full";
    case EROFS: return "read-only file system";
    case ENAMETOOLONG: return "file name too long";
    case EINVAL: return "invalid file name";
    case EFBIG: return "file too large (the file-size limit is reached)";
    case EDQUOT: return "disk quota exceeded";
    default: return std::strerror(err);
  }
}

std::string ReadFileBytes(const std::string& path) {
  std::string real = ResolveCase(path);
  int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw IoError(path, 0, ErrnoReason(errno));
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw IoError(path, 0, ErrnoReason(EISDIR));
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      throw IoError(path, 0, ErrnoReason(err));
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

void WriteFilePlain(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw IoError(path, 0, ErrnoReason(errno));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw IoError(path, 0, ErrnoReason(err));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) throw IoError(path, 0, ErrnoReason(errno));
}

void RejectUtf16(const std::string& path, std::string_view bytes) {
  if (LooksLikeUtf16(bytes)) {
    throw IoError(path, 0, "saved as UTF-16; save it as plain text (Windows code page or UTF-8)");
  }
}

void WriteFileAtomic(const std::string& path, std::string_view bytes) {
  if (path.empty()) throw IoError(path, 0, ErrnoReason(EINVAL));
  std::string target = ResolveCase(path);
  std::size_t slash = target.find_last_of('/');
  std::string folder = (slash == std::string::npos) ? "." : target.substr(0, slash);
  if (folder.empty()) folder = "/";
  std::string name = (slash == std::string::npos) ? target : target.substr(slash + 1);
  if (name.empty()) throw IoError(path, 0, ErrnoReason(EISDIR));
  std::string tmpl = JoinPath(folder, "." + name + ".XXXXXX");
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) throw IoError(path, 0, ErrnoReason(errno));
  std::string tmp(buf.data());
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw IoError(path, 0, ErrnoReason(err));
  };
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  // Keep the permissions of an earlier file; a new file gets the usual ones.
  struct stat st;
  mode_t mode = 0666;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  if (::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    throw IoError(path, 0, ErrnoReason(err));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    throw IoError(path, 0, ErrnoReason(err));
  }
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace drivanto
