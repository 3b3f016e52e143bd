#pragma once
// Where a class's code must run, checked in debug builds: the main thread, one named thread (a
// run-loop thread such as the network thread), or one serial dispatch queue. A failed check
// logs "*** thread check failed: <where> ..." and aborts; with NDEBUG the checks compile to nothing.
//
//   PF_ASSERT_MAIN_THREAD();                       // views, layers, controllers, overlays
//   PF_ASSERT_ON(ThreadChecker::thread(network));  // a "network thread only" section
//   PF_ASSERT_ON(ThreadChecker::queue(workQueue)); // a "work queue only" section

#include <memory>
#include <string>
#include <string_view>

namespace pf {

class DispatchQueue;
class Thread;

class ThreadChecker {
 public:
  static ThreadChecker mainThread();
  static ThreadChecker thread(const std::shared_ptr<Thread>& thread);
  static ThreadChecker queue(const std::shared_ptr<DispatchQueue>& queue);

  // Whether the calling code runs where the checker says.
  bool isCurrent() const;
  // Aborts with a log line naming `where` unless isCurrent().
  void check(std::string_view where) const;

 private:
  enum class Kind { Main, Thread, Queue };
  ThreadChecker(Kind kind, std::weak_ptr<Thread> thread, std::weak_ptr<DispatchQueue> queue)
      : kind_(kind), thread_(std::move(thread)), queue_(std::move(queue)) {}

  Kind kind_;
  std::weak_ptr<Thread> thread_;
  std::weak_ptr<DispatchQueue> queue_;
};

}  // namespace pf

#ifdef NDEBUG
#define PF_ASSERT_ON(checker) ((void)0)
#define PF_ASSERT_MAIN_THREAD() ((void)0)
#else
#define PF_ASSERT_ON(checker) (checker).check(__func__)
#define PF_ASSERT_MAIN_THREAD() ::pf::ThreadChecker::mainThread().check(__func__)
#endif
