#pragma once
// The holder of a process-wide shared object: made once on first use (thread-safe), replaceable
// and resettable for tests. A namespace-scope holder is constant-initialized, so it is usable from
// any static initializer.
//
//   namespace { pf::SharedInstance<Store> gShared; }
//   std::shared_ptr<Store> Store::sharedInstance() { return gShared.get([] { return std::make_shared<Store>(); }); }

#include <memory>
#include <mutex>

#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

template <class T>
class SharedInstance {
 public:
  constexpr SharedInstance() = default;
  SharedInstance(const SharedInstance&) = delete;
  SharedInstance& operator=(const SharedInstance&) = delete;

  // The shared object, made by `make` on the first call (or the first after a reset).
  template <class Make>
  std::shared_ptr<T> get(Make&& make) {
    MutexLock lock(mutex_);
    if (!instance_) instance_ = make();
    return instance_;
  }

  // Replaces the shared object (nullptr: the next get makes a new one) and hands back the old one,
  // released by the caller after the lock, so its destructor may use the holder.
  std::shared_ptr<T> exchange(std::shared_ptr<T> instance) {
    MutexLock lock(mutex_);
    instance_.swap(instance);
    return instance;
  }

  void reset() { exchange(nullptr); }

 private:
  Mutex mutex_;
  std::shared_ptr<T> instance_ PF_GUARDED_BY(mutex_);
};

}  // namespace pf
