#include "container/MwBlockingWait.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace container {

MwBlockingWait::MwBlockingWait(pf::TimeInterval step)
    : step_(step),
      semaphore_(pf::DispatchSemaphore::make(0)),
      source_(pf::RunLoopSource::makeSignal([](pf::RunLoopSource&) {})) {}

MwBlockingWait::~MwBlockingWait() { source_->invalidate(); }

void MwBlockingWait::wait(const std::function<bool()>& done) {
  if (done()) return;
  if (pf::Thread::isMainThread()) {
    auto loop = pf::RunLoop::current();
    loop->addSource(source_, pf::kDefaultRunLoopMode);
    while (!done()) loop->runMode(pf::kDefaultRunLoopMode, pf::Clock::now() + step_);
    loop->removeSource(source_, pf::kDefaultRunLoopMode);
  } else {
    while (!done()) semaphore_->wait(step_);
  }
}

void MwBlockingWait::wake() {
  source_->signal();
  semaphore_->signal();
}

}  // namespace container
