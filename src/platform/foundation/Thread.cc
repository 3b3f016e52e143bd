#include "platform/foundation/Thread.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/foundation/ClockInternal.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoopInternal.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf {
namespace detail {

struct ThreadImpl {
  mutable Mutex mutex;
  std::condition_variable cv;
  std::string name PF_GUARDED_BY(mutex);
  std::function<void()> body;
  bool started PF_GUARDED_BY(mutex) = false;
  bool executing PF_GUARDED_BY(mutex) = false;
  bool finished PF_GUARDED_BY(mutex) = false;
  bool cancelled PF_GUARDED_BY(mutex) = false;
  bool main = false;
  long tid PF_GUARDED_BY(mutex) = 0;
  std::shared_ptr<RunLoop> loop PF_GUARDED_BY(mutex);
  std::shared_ptr<RunLoopSource> keepAlive PF_GUARDED_BY(mutex);  // run-loop threads: signalled by cancel()
};

namespace {

thread_local std::shared_ptr<Thread> tThread;

void nameOsThread(const std::string& name) {
  std::string shortName = name.substr(0, 15);
  pthread_setname_np(pthread_self(), shortName.c_str());
}

}  // namespace
}  // namespace detail

Thread::Thread() : impl_(std::make_unique<detail::ThreadImpl>()) {}
Thread::~Thread() = default;

std::shared_ptr<Thread> Thread::make(std::function<void()> body, std::string name) {
  std::shared_ptr<Thread> thread(new Thread);
  thread->impl_->body = std::move(body);
  MutexLock lock(thread->impl_->mutex);
  thread->impl_->name = std::move(name);
  return thread;
}

std::shared_ptr<Thread> Thread::detach(std::function<void()> body, std::string name) {
  auto thread = make(std::move(body), std::move(name));
  thread->start();
  return thread;
}

std::shared_ptr<Thread> Thread::makeRunLoopThread(std::string name) {
  auto thread = make(nullptr, std::move(name));
  std::weak_ptr<Thread> weak = thread;
  thread->impl_->body = [weak] {
    auto self = weak.lock();
    if (!self) return;
    auto loop = RunLoop::current();
    auto stopper = RunLoopSource::makeSignal([](RunLoopSource&) { RunLoop::current()->stop(); });
    {
      MutexLock lock(self->impl_->mutex);
      self->impl_->keepAlive = stopper;
    }
    loop->addSource(stopper, kDefaultRunLoopMode);
    self.reset();
    for (;;) {
      if (auto me = weak.lock(); !me || me->isCancelled()) break;
      loop->run();
    }
    stopper->invalidate();
  };
  thread->start();
  return thread;
}

std::shared_ptr<Thread> Thread::current() {
  auto& slot = detail::tThread;
  if (slot) return slot;
  if (isMainThread()) {
    slot = mainThread();
    return slot;
  }
  std::shared_ptr<Thread> thread(new Thread);
  MutexLock lock(thread->impl_->mutex);
  thread->impl_->started = thread->impl_->executing = true;
  thread->impl_->tid = detail::currentThreadId();
  slot = thread;
  return thread;
}

std::shared_ptr<Thread> Thread::mainThread() {
  static auto* main = [] {
    auto* holder = new std::shared_ptr<Thread>(new Thread);
    auto& impl = *(*holder)->impl_;
    MutexLock lock(impl.mutex);
    impl.started = impl.executing = impl.main = true;
    impl.name = "main";
    impl.tid = static_cast<long>(::getpid());
    return holder;
  }();
  return *main;
}

bool Thread::isMainThread() { return detail::currentThreadId() == static_cast<long>(::getpid()); }

void Thread::start() {
  {
    MutexLock lock(impl_->mutex);
    if (impl_->started) throw Exception(kInvalidArgumentException, "thread started twice");
    impl_->started = true;
    impl_->executing = true;
  }
  auto self = shared_from_this();
  auto activity = detail::beginThreadActivity();
  std::thread([self, activity]() mutable {
    auto& impl = *self->impl_;
    detail::adoptThreadActivity(std::move(activity));
    detail::tThread = self;
    std::function<void()> body;
    {
      MutexLock lock(impl.mutex);
      impl.tid = detail::currentThreadId();
      if (!impl.name.empty()) detail::nameOsThread(impl.name);
      impl.loop = RunLoop::current();
      body = std::move(impl.body);
    }
    impl.cv.notify_all();
    try {
      if (body) body();
    } catch (const std::exception& e) {
      logLine("*** uncaught exception on thread \"" + self->name() + "\": " + e.what());
    } catch (...) {
      logLine("*** uncaught exception on thread \"" + self->name() + "\"");
    }
    body = nullptr;
    std::shared_ptr<RunLoop> loop;
    {
      MutexLock lock(impl.mutex);
      loop = std::move(impl.loop);
      impl.keepAlive.reset();
    }
    detail::endCurrentRunLoop();
    loop.reset();
    {
      MutexLock lock(impl.mutex);
      impl.executing = false;
      impl.finished = true;
    }
    impl.cv.notify_all();
    detail::tThread.reset();
    detail::endThreadActivity();
  }).detach();
}

std::string Thread::name() const {
  MutexLock lock(impl_->mutex);
  return impl_->name;
}

void Thread::setName(std::string name) {
  MutexLock lock(impl_->mutex);
  impl_->name = std::move(name);
  if (impl_->tid == detail::currentThreadId()) detail::nameOsThread(impl_->name);
}

bool Thread::isMain() const { return impl_->main; }

bool Thread::isExecuting() const {
  MutexLock lock(impl_->mutex);
  return impl_->executing;
}

bool Thread::isFinished() const {
  MutexLock lock(impl_->mutex);
  return impl_->finished;
}

bool Thread::isCancelled() const {
  MutexLock lock(impl_->mutex);
  return impl_->cancelled;
}

void Thread::cancel() {
  std::shared_ptr<RunLoopSource> stopper;
  {
    MutexLock lock(impl_->mutex);
    impl_->cancelled = true;
    stopper = impl_->keepAlive;
  }
  if (stopper) stopper->signal();
}

void Thread::join() {
  UniqueLock lock(impl_->mutex);
  if (!impl_->started || impl_->main) return;
  if (impl_->tid == detail::currentThreadId()) return;
  detail::waitOnClock(lock.native(), impl_->cv, kForever, [&]() PF_REQUIRES(impl_->mutex) { return impl_->finished; });
}

std::shared_ptr<RunLoop> Thread::runLoop() const {
  if (impl_->main) return RunLoop::main();
  UniqueLock lock(impl_->mutex);
  if (!impl_->started) return nullptr;
  if (impl_->tid == detail::currentThreadId()) return RunLoop::current();
  detail::waitOnClock(lock.native(), impl_->cv, kForever,
                      [&]() PF_REQUIRES(impl_->mutex) { return impl_->loop || impl_->finished; });
  return impl_->loop;
}

namespace {

// Signals the waiting caller when the performed block has run or was dropped with its run loop.
struct PerformDone {
  Mutex mutex;
  std::condition_variable cv;
  bool done PF_GUARDED_BY(mutex) = false;
  bool ran = false;  // written before done, read after it
};

}  // namespace

bool Thread::perform(std::function<void()> block, bool waitUntilDone, const std::vector<RunLoopMode>& modes) {
  auto loop = runLoop();
  if (!loop) return false;
  if (!waitUntilDone) {
    loop->perform(std::move(block), modes);
    return true;
  }
  if (loop->isCurrent()) {
    if (block) block();
    return true;
  }
  auto done = std::make_shared<PerformDone>();
  struct Signal {
    std::shared_ptr<PerformDone> done;
    ~Signal() {
      MutexLock lock(done->mutex);
      done->done = true;
      done->cv.notify_all();
    }
  };
  std::shared_ptr<Signal> signal(new Signal{done});
  loop->perform(
      [signal = std::move(signal), block = std::move(block), done]() mutable {
        if (block) block();
        done->ran = true;
        signal.reset();
      },
      modes);
  UniqueLock lock(done->mutex);
  detail::waitOnClock(lock.native(), done->cv, kForever, [&]() PF_REQUIRES(done->mutex) { return done->done; });
  return done->ran;
}

void Thread::performOnMainThread(std::function<void()> block, bool waitUntilDone,
                                 const std::vector<RunLoopMode>& modes) {
  mainThread()->perform(std::move(block), waitUntilDone, modes);
}

}  // namespace pf
