#pragma once
// Threads: named, each with its run loop; the main thread; sleeping on the clock; performing a
// block on another thread's run loop.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace pf {

namespace detail {
struct ThreadImpl;
}

class Thread : public std::enable_shared_from_this<Thread> {
 public:
  // Not started. The body runs on the new thread; the thread ends when it returns.
  static std::shared_ptr<Thread> make(std::function<void()> body, std::string name = {});
  // Made and started at once.
  static std::shared_ptr<Thread> detach(std::function<void()> body, std::string name = {});
  // Made and started; the thread keeps its run loop alive, running the default mode until
  // cancel() (which also stops the loop).
  static std::shared_ptr<Thread> makeRunLoopThread(std::string name);

  // The calling thread (an object is made for threads not started through this class).
  static std::shared_ptr<Thread> current();
  static std::shared_ptr<Thread> mainThread();
  static bool isMainThread();

  // Sleep on the clock (virtual time included); the run loop does not run meanwhile.
  static void sleep(TimeInterval seconds) { Clock::sleep(seconds); }
  static void sleepUntil(double date) { Clock::sleepUntil(date); }

  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starting twice raises pf::Exception (kInvalidArgumentException).
  void start();
  std::string name() const;
  // Also names the OS thread when called on the thread itself (first 15 bytes).
  void setName(std::string name);
  bool isMain() const;
  bool isExecuting() const;
  bool isFinished() const;
  bool isCancelled() const;
  // Marks the thread cancelled (the body may look) and stops a run-loop thread's loop.
  void cancel();
  // Blocks until the thread has ended (at once for a thread that never started).
  void join();

  // The thread's run loop; for a started thread, waits until it exists. Null for a thread that has
  // not been started or has ended.
  std::shared_ptr<RunLoop> runLoop() const;

  // Runs `block` on this thread's run loop in one of `modes`. When `waitUntilDone`, blocks the
  // caller until it ran (runs it at once when called on this thread). Returns false when the
  // thread has no run loop (not started or ended); the block then does not run.
  bool perform(std::function<void()> block, bool waitUntilDone,
               const std::vector<RunLoopMode>& modes = {kRunLoopCommonModes});
  static void performOnMainThread(std::function<void()> block, bool waitUntilDone,
                                  const std::vector<RunLoopMode>& modes = {kRunLoopCommonModes});

 private:
  friend struct detail::ThreadImpl;
  Thread();
  std::unique_ptr<detail::ThreadImpl> impl_;
};

}  // namespace pf
