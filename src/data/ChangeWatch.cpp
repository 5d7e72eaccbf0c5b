#include "data/ChangeWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <thread>
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

}  // namespace

// A notification instance and the thread that listens to it: the thread
// sleeps until the system queues a notification, raises `news` and sleeps
// again until the owner has read the queue. The owner thus learns of a
// change by reading a flag, not by a system call per step.
struct ChangeWatch::Listener {
  int fd = -1;
  int wake = -1;  // an event that ends the thread
  std::atomic<bool> news{true};
  std::atomic<bool> stop{false};

  ~Listener() {
    if (fd >= 0) ::close(fd);
    if (wake >= 0) ::close(wake);
  }

  static void Listen(std::shared_ptr<Listener> self) {
    while (!self->stop.load()) {
      // Wait while the news is unread.
      self->news.wait(true);
      if (self->stop.load()) break;
      struct pollfd fds[2] = {{self->fd, POLLIN, 0}, {self->wake, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        // Without poll nothing can be heard: every check reads the queue.
        self->news.store(true);
        break;
      }
      if (fds[1].revents) break;
      if (fds[0].revents) self->news.store(true);
    }
  }

  // Ends the thread; it frees the listener when it has gone.
  void End() {
    stop.store(true);
    news.store(false);
    news.notify_all();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
  }
};

namespace {

// Closing a notification instance waits for the kernel to retire its watches
// (some 15 ms), which a program running many short runs would pay for every
// run. Instances without watches, with their listeners, are therefore kept
// for the next user.
std::mutex poolMutex;
std::vector<std::shared_ptr<ChangeWatch::Listener>>& Pool() {
  static auto* pool = new std::vector<std::shared_ptr<ChangeWatch::Listener>>;
  return *pool;
}
constexpr std::size_t kPoolSize = 64;

std::shared_ptr<ChangeWatch::Listener> TakeListener() {
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    if (!Pool().empty()) {
      auto l = Pool().back();
      Pool().pop_back();
      return l;
    }
  }
  auto l = std::make_shared<ChangeWatch::Listener>();
  l->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (l->fd < 0) return nullptr;
  l->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (l->wake < 0) return nullptr;
  try {
    std::thread(ChangeWatch::Listener::Listen, l).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return l;
}

void GiveBack(std::shared_ptr<ChangeWatch::Listener> l) {
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    if (Pool().size() < kPoolSize) {
      Pool().push_back(std::move(l));
      return;
    }
  }
  l->End();
}

}  // namespace

ChangeWatch::~ChangeWatch() {
  if (fd_ < 0) return;
  Reset();
  GiveBack(std::move(listener_));
}

bool ChangeWatch::MayHaveNews() const { return fd_ >= 0 && listener_->news.load(); }

void ChangeWatch::Heard() {
  if (listener_->news.exchange(false)) listener_->news.notify_all();
}

int ChangeWatch::Watch(const std::string& folder) {
  if (unavailable_) return -1;
  auto it = byFolder_.find(folder);
  if (it != byFolder_.end()) return it->second;
  if (!ReportsAllChanges(folder)) return -1;
  if (fd_ < 0) {
    listener_ = TakeListener();
    if (!listener_) {
      unavailable_ = true;
      return -1;
    }
    fd_ = listener_->fd;
    // Whatever an earlier user left is read at the first check.
    listener_->news.store(true);
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
