#pragma once
// Which descriptors the code under test flushes to disk, and in what order. This header defines
// fsync and syncfs for the whole test program in place of the C library's (they make the same
// system calls) and, while a SyncCalls is alive, notes the kind and the path of each descriptor
// flushed, as the path stood at that moment, and hands each to its `onFlush` (when given) before
// the flush, so a test can act at that point of the code. Include it in exactly one source file
// of a program.

#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace fxtest {

struct SyncCall {
  std::string kind;  // "fsync" or "syncfs"
  std::filesystem::path path;
  bool operator==(const SyncCall&) const = default;
};

class SyncCalls {
 public:
  explicit SyncCalls(std::function<void(const SyncCall&)> onFlush = {}) : onFlush_(std::move(onFlush)) {
    std::lock_guard lock(mutex());
    active() = this;
  }
  ~SyncCalls() {
    std::lock_guard lock(mutex());
    active() = nullptr;
  }
  SyncCalls(const SyncCalls&) = delete;
  SyncCalls& operator=(const SyncCalls&) = delete;

  std::vector<SyncCall> calls() const {
    std::lock_guard lock(mutex());
    return calls_;
  }

  static void note(const char* kind, int fd) {
    std::function<void(const SyncCall&)> onFlush;
    SyncCall call;
    {
      std::lock_guard lock(mutex());
      if (!active()) return;
      std::error_code error;
      call = {kind, std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error)};
      active()->calls_.push_back(call);
      onFlush = active()->onFlush_;
    }
    if (onFlush) onFlush(call);
  }

 private:
  static std::mutex& mutex() {
    static std::mutex instance;
    return instance;
  }
  static SyncCalls*& active() {
    static SyncCalls* instance = nullptr;
    return instance;
  }
  std::function<void(const SyncCall&)> onFlush_;
  std::vector<SyncCall> calls_;
};

}  // namespace fxtest

extern "C" int fsync(int fd) {
  fxtest::SyncCalls::note("fsync", fd);
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int syncfs(int fd) noexcept {
  fxtest::SyncCalls::note("syncfs", fd);
  return static_cast<int>(::syscall(SYS_syncfs, fd));
}
