#include "platform/foundation/ThreadChecker.h"

#include <cstdlib>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Thread.h"

namespace pf {

ThreadChecker ThreadChecker::mainThread() { return ThreadChecker(Kind::Main, {}, {}); }

ThreadChecker ThreadChecker::thread(const std::shared_ptr<Thread>& thread) {
  return ThreadChecker(Kind::Thread, thread, {});
}

ThreadChecker ThreadChecker::queue(const std::shared_ptr<DispatchQueue>& queue) {
  return ThreadChecker(Kind::Queue, {}, queue);
}

bool ThreadChecker::isCurrent() const {
  switch (kind_) {
    case Kind::Main: return Thread::isMainThread();
    case Kind::Thread: {
      auto thread = thread_.lock();
      return thread && thread == Thread::current();
    }
    case Kind::Queue: {
      auto queue = queue_.lock();
      return queue && queue->isCurrent();
    }
  }
  return false;
}

void ThreadChecker::check(std::string_view where) const {
  if (isCurrent()) return;
  std::string line = "*** thread check failed: ";
  line += where;
  switch (kind_) {
    case Kind::Main: line += " runs on the main thread only"; break;
    case Kind::Thread: {
      auto thread = thread_.lock();
      line += " runs on thread \"" + (thread ? thread->name() : std::string("(gone)")) + "\" only";
      break;
    }
    case Kind::Queue: {
      auto queue = queue_.lock();
      line += " runs on queue \"" + (queue ? queue->label() : std::string("(gone)")) + "\" only";
      break;
    }
  }
  logLine(line);
  std::abort();
}

}  // namespace pf
