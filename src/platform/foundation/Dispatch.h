#pragma once
// Dispatch queues, groups, semaphores and once.
//
// - Serial queues run one block at a time, in order, on the shared thread pool.
// - Concurrent queues (and the global queues) run blocks side by side on the pool; a barrier block
//   waits for everything submitted before it and holds back everything submitted after it.
// - The main queue is serial and drained by the main run loop in its common modes.
// - sync() runs the block on the calling thread once the queue lets it; sync onto a serial queue
//   the calling thread is already running (including the main queue on the main thread) raises
//   pf::Exception named kDispatchDeadlockException instead of hanging.
// - after() counts on the clock (virtual time included).
// A queue may be released from inside its own block: pending blocks keep it alive until they ran.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Clock.h"

namespace pf {

inline constexpr const char* kDispatchDeadlockException = "DispatchDeadlockException";

namespace detail {
struct QueueImpl;
struct GroupImpl;
struct SemaphoreImpl;
}  // namespace detail

class DispatchGroup;

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  enum class Kind { Serial, Concurrent, Main };
  enum class Priority { High, Default, Low, Background };

  static std::shared_ptr<DispatchQueue> makeSerial(std::string label = {});
  static std::shared_ptr<DispatchQueue> makeConcurrent(std::string label = {});
  // The main queue.
  static std::shared_ptr<DispatchQueue> main();
  // The process's concurrent global queues.
  static std::shared_ptr<DispatchQueue> global(Priority priority = Priority::Default);
  // The queue whose block the calling thread is running, or null (the main thread outside any
  // queue block answers null too).
  static std::shared_ptr<DispatchQueue> current();

  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  const std::string& label() const;
  Kind kind() const;
  // Whether the calling thread is running a block of this queue (directly or through sync).
  bool isCurrent() const;

  void async(std::function<void()> block);
  // Runs `block` on the calling thread when the queue lets it, and returns after it ran.
  void sync(const std::function<void()>& block);
  // On a concurrent queue: runs alone, after all earlier blocks and before all later ones.
  // On a serial queue the same as async / sync.
  void barrierAsync(std::function<void()> block);
  void barrierSync(const std::function<void()>& block);
  // async() after `delay` seconds on the clock.
  void after(TimeInterval delay, std::function<void()> block);
  // async() as a member of `group` (entered now, left after the block ran).
  void async(const std::shared_ptr<DispatchGroup>& group, std::function<void()> block);

  // Queue-specific values. getSpecific reads this queue's; currentSpecific the value for `key` on
  // the queue whose block the calling thread is running (innermost first through nested syncs).
  void setSpecific(const void* key, std::shared_ptr<void> value);
  std::shared_ptr<void> getSpecific(const void* key) const;
  static std::shared_ptr<void> currentSpecific(const void* key);

 private:
  friend struct detail::QueueImpl;
  DispatchQueue();
  std::unique_ptr<detail::QueueImpl> impl_;
};

class DispatchGroup : public std::enable_shared_from_this<DispatchGroup> {
 public:
  static std::shared_ptr<DispatchGroup> make();
  ~DispatchGroup();
  DispatchGroup(const DispatchGroup&) = delete;
  DispatchGroup& operator=(const DispatchGroup&) = delete;

  void enter();
  // Leaving more often than entering raises pf::Exception (kInternalInconsistencyException).
  void leave();
  // Blocks until the group is empty or `timeout` seconds pass on the clock; true when empty.
  bool wait(TimeInterval timeout = kForever);
  // Submits `block` to `queue` once the group is empty (at once when it is empty now).
  void notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block);

 private:
  DispatchGroup();
  std::unique_ptr<detail::GroupImpl> impl_;
};

class DispatchSemaphore {
 public:
  static std::shared_ptr<DispatchSemaphore> make(long value = 0);
  explicit DispatchSemaphore(long value = 0);
  ~DispatchSemaphore();
  DispatchSemaphore(const DispatchSemaphore&) = delete;
  DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

  // Takes one unit, blocking up to `timeout` seconds on the clock; false on time-out.
  bool wait(TimeInterval timeout = kForever);
  // Gives one unit back, waking one waiter. True when a waiter was woken.
  bool signal();

 private:
  std::unique_ptr<detail::SemaphoreImpl> impl_;
};

// Runs `fn` exactly once per flag, whichever thread comes first; the others wait until it ran.
using DispatchOnceFlag = std::once_flag;
template <class F>
void dispatchOnce(DispatchOnceFlag& flag, F&& fn) {
  std::call_once(flag, std::forward<F>(fn));
}

}  // namespace pf
