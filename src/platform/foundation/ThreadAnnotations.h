#pragma once
// Which lock guards what, said in the code and checked by clang's -Wthread-safety (the build turns
// its findings into errors; with gcc the annotations compile to nothing).
//
//   mutable pf::Mutex mutex_;
//   std::vector<Item> items_ PF_GUARDED_BY(mutex_);
//   void trimLocked() PF_REQUIRES(mutex_);       // a private helper called with the lock held
//   void post() PF_EXCLUDES(mutex_);             // calls out: must not be entered with it held
//
//   pf::MutexLock lock(mutex_);                  // for std::lock_guard
//   pf::UniqueLock lock(mutex_);                 // for std::unique_lock: unlock()/lock() again,
//   cv_.wait(lock.native(), [&]() PF_REQUIRES(mutex_) { return ready_; });  // condition waits
//
// libstdc++'s mutexes carry no annotations, so the analysis only sees locks taken through these
// types. They are the std types underneath and cost nothing more.

#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define PF_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PF_THREAD_ANNOTATION(x)
#endif

// A type that is a lock ("mutex" in the diagnostics).
#define PF_CAPABILITY(name) PF_THREAD_ANNOTATION(capability(name))
// An RAII type that holds a lock for its lifetime.
#define PF_SCOPED_CAPABILITY PF_THREAD_ANNOTATION(scoped_lockable)
// A member read or written only with the lock held (PT_: what the pointer points to).
#define PF_GUARDED_BY(m) PF_THREAD_ANNOTATION(guarded_by(m))
#define PF_PT_GUARDED_BY(m) PF_THREAD_ANNOTATION(pt_guarded_by(m))
// Lock order between two locks of one class.
#define PF_ACQUIRED_BEFORE(...) PF_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define PF_ACQUIRED_AFTER(...) PF_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// A function called with the lock held (exclusively or shared).
#define PF_REQUIRES(...) PF_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define PF_REQUIRES_SHARED(...) PF_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// A function that takes or gives back the lock.
#define PF_ACQUIRE(...) PF_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define PF_ACQUIRE_SHARED(...) PF_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define PF_RELEASE(...) PF_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define PF_RELEASE_SHARED(...) PF_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define PF_RELEASE_GENERIC(...) PF_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define PF_TRY_ACQUIRE(...) PF_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A function that must not be entered with the lock held (it takes it, or calls out).
#define PF_EXCLUDES(...) PF_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that returns the lock guarding something.
#define PF_RETURN_CAPABILITY(m) PF_THREAD_ANNOTATION(lock_returned(m))
// A function whose locking the analysis cannot follow; always with a comment saying why.
#define PF_NO_THREAD_SAFETY_ANALYSIS PF_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace pf {

// A std mutex type as a capability.
template <class Native>
class PF_CAPABILITY("mutex") BasicMutex {
 public:
  using native_type = Native;
  void lock() PF_ACQUIRE() { m_.lock(); }
  void unlock() PF_RELEASE() { m_.unlock(); }
  bool try_lock() PF_TRY_ACQUIRE(true) { return m_.try_lock(); }
  // The std mutex itself, for code the analysis does not see (a std::unique_lock of its own).
  Native& native() { return m_; }

 protected:
  Native m_;
};

using Mutex = BasicMutex<std::mutex>;
// The analysis does not model re-entry: a function that takes a recursive mutex while a caller
// may hold it is called through a public entry point, never inside one lock scope.
using RecursiveMutex = BasicMutex<std::recursive_mutex>;

// std::shared_mutex: readers take it shared, writers exclusively.
class PF_CAPABILITY("mutex") SharedMutex : public BasicMutex<std::shared_mutex> {
 public:
  void lock_shared() PF_ACQUIRE_SHARED() { m_.lock_shared(); }
  void unlock_shared() PF_RELEASE_SHARED() { m_.unlock_shared(); }
};

// Holds the lock for its scope (std::lock_guard).
template <class M>
class PF_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(M& m) PF_ACQUIRE(m) : m_(m) { m_.lock(); }
  ~MutexLock() PF_RELEASE() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  M& m_;
};

// Holds a SharedMutex shared for its scope (std::shared_lock).
class PF_SCOPED_CAPABILITY SharedLock {
 public:
  explicit SharedLock(SharedMutex& m) PF_ACQUIRE_SHARED(m) : m_(m) { m_.lock_shared(); }
  ~SharedLock() PF_RELEASE() { m_.unlock_shared(); }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

 private:
  SharedMutex& m_;
};

// Holds the lock from construction, may give it up and take it again (std::unique_lock), and
// waits on condition variables through native(): std::condition_variable for a Mutex,
// std::condition_variable_any for the others. The analysis counts the lock as held across a wait,
// as it is on return.
template <class M>
class PF_SCOPED_CAPABILITY UniqueLock {
 public:
  explicit UniqueLock(M& m) PF_ACQUIRE(m) : lock_(m.native()) {}
  ~UniqueLock() PF_RELEASE() {}
  UniqueLock(const UniqueLock&) = delete;
  UniqueLock& operator=(const UniqueLock&) = delete;

  void lock() PF_ACQUIRE() { lock_.lock(); }
  void unlock() PF_RELEASE() { lock_.unlock(); }
  std::unique_lock<typename M::native_type>& native() { return lock_; }

 private:
  std::unique_lock<typename M::native_type> lock_;
};

}  // namespace pf
