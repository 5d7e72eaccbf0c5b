#include "data/ChangeWatch.h"

#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace drivanto {

namespace {

constexpr uint32_t kFolderEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                   IN_MOVE_SELF;

// File systems whose files can change without the local kernel seeing it.
bool ReportsAllChanges(const std::string& folder) {
  struct statfs fs;
  if (::statfs(folder.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
    case 0x73757245UL:  // Coda
    case 0x7461636FUL:  // OCFS2
    case 0x01161970UL:  // GFS2
    case 0x0BD00BD0UL:  // Lustre
      return false;
    default: return true;
  }
}

// Closing a notification instance waits for the kernel to retire its watches
// (some 15 ms), which a program running many short runs would pay for every
// run. Instances without watches are therefore kept for the next user.
std::mutex poolMutex;
std::vector<int>& Pool() {
  static std::vector<int> pool;
  return pool;
}
constexpr std::size_t kPoolSize = 64;

int TakeInstance() {
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    if (!Pool().empty()) {
      const int fd = Pool().back();
      Pool().pop_back();
      return fd;
    }
  }
  return ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

void GiveBack(int fd) {
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    if (Pool().size() < kPoolSize) {
      Pool().push_back(fd);
      return;
    }
  }
  ::close(fd);
}

}  // namespace

ChangeWatch::~ChangeWatch() {
  if (fd_ < 0) return;
  Reset();
  GiveBack(fd_);
}

int ChangeWatch::Watch(const std::string& folder) {
  if (unavailable_) return -1;
  auto it = byFolder_.find(folder);
  if (it != byFolder_.end()) return it->second;
  if (!ReportsAllChanges(folder)) return -1;
  if (fd_ < 0) {
    fd_ = TakeInstance();
    if (fd_ < 0) {
      unavailable_ = true;
      return -1;
    }
  }
  const int wd = ::inotify_add_watch(fd_, folder.c_str(), kFolderEvents | IN_ONLYDIR);
  if (wd < 0) return -1;
  byFolder_[folder] = wd;
  return wd;
}

void ChangeWatch::Reset() {
  if (fd_ < 0) return;
  // Removing a watch queues its last notification at once: read them all, so
  // the instance starts empty.
  for (const auto& [folder, wd] : byFolder_) ::inotify_rm_watch(fd_, wd);
  byFolder_.clear();
  while (ReadEvents() > 0) {
  }
}

long ChangeWatch::ReadEvents() {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : static_cast<long>(n);
  }
}

int ChangeWatch::Classify(unsigned mask, unsigned nameLength) {
  if (mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) return -1;
  return nameLength > 0 ? 1 : 0;
}

}  // namespace drivanto
