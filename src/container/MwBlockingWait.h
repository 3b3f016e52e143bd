#pragma once
// The blocking waits of business requests: the caller's thread waits for a condition in steps. On
// the main thread each step runs the current run loop once in the default mode (so the HTTP engine's
// handlers, which run there, can end the wait); on any other thread each step waits on the clock.
// wake() ends the current step early, from any thread.

#include <functional>
#include <memory>

#include "platform/foundation/Clock.h"

namespace pf {
class DispatchSemaphore;
class RunLoopSource;
}  // namespace pf

namespace container {

class MwBlockingWait {
 public:
  explicit MwBlockingWait(pf::TimeInterval step);
  ~MwBlockingWait();
  MwBlockingWait(const MwBlockingWait&) = delete;
  MwBlockingWait& operator=(const MwBlockingWait&) = delete;

  // Returns once done() holds (checked before every step).
  void wait(const std::function<bool()>& done);
  // Thread-safe.
  void wake();

 private:
  pf::TimeInterval step_;
  std::shared_ptr<pf::DispatchSemaphore> semaphore_;
  std::shared_ptr<pf::RunLoopSource> source_;
};

}  // namespace container
