#pragma once
// Notification of changes in folders (Linux inotify), so that a cached file
// needs no check of its own until something in its folder has changed.

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace drivanto {

class ChangeWatch {
 public:
  ChangeWatch() = default;
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;
  ~ChangeWatch();

  // Watches the folder for files written, created, deleted, moved or changed
  // in their attributes, and for the folder itself being deleted or moved.
  // Returns the watch's number, or -1 where no watch can be set: notification
  // unavailable, its limits reached, or a file system that does not report
  // changes made elsewhere (network and user-space file systems).
  int Watch(const std::string& folder);

  // Whether notifications may be waiting: a listener thread raises this flag
  // as soon as the system queues one, so that asking costs no system call.
  bool MayHaveNews() const;

  // Reads every queued notification and calls changed(watch, name) for each
  // name reported in a watched folder. Returns false when the watches no
  // longer tell the whole story (the queue overflowed, a watch was removed, a
  // watched folder was moved or deleted): then every watch is dropped, every
  // cached file must be checked again and its folder watched anew.
  template <typename F>
  bool Drain(F&& changed) {
    if (fd_ < 0) return true;
    Heard();
    bool whole = true;
    for (;;) {
      const long n = ReadEvents();
      if (n <= 0) break;
      whole = Walk(n, changed) && whole;
    }
    if (!whole) Reset();
    return whole;
  }

  // Drops every watch and every queued notification.
  void Reset();

  // (The thread behind MayHaveNews, kept with its instance for the next user.)
  struct Listener;

 private:
  long ReadEvents();
  // Lowers the listener's flag before the queue is read, so that whatever
  // comes after the reading raises it again.
  void Heard();
  template <typename F>
  bool Walk(long n, F& changed);
  // What one event means: 1 a name changed, 0 nothing of interest, -1 the
  // watches no longer hold.
  static int Classify(unsigned mask, unsigned nameLength);

  std::shared_ptr<Listener> listener_;
  int fd_ = -1;
  bool unavailable_ = false;
  std::unordered_map<std::string, int> byFolder_;
  alignas(8) char buffer_[16384];
};

template <typename F>
bool ChangeWatch::Walk(long n, F& changed) {
  bool whole = true;
  for (long i = 0; i < n;) {
    struct Header {
      int wd;
      unsigned mask, cookie, len;
    } h;
    static_assert(sizeof(Header) == 16);
    __builtin_memcpy(&h, buffer_ + i, sizeof h);
    const char* name = buffer_ + i + sizeof h;
    const int kind = Classify(h.mask, h.len);
    if (kind < 0) whole = false;
    if (kind > 0) changed(h.wd, std::string_view(name, __builtin_strlen(name)));
    i += static_cast<long>(sizeof h + h.len);
  }
  return whole;
}

}  // namespace drivanto
