#include "container/MwActivity.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace container {

namespace {

struct Overlay {
  pf::Mutex mutex;
  bool shown PF_GUARDED_BY(mutex) = false;
  const MwActivityDelegate* identity PF_GUARDED_BY(mutex) = nullptr;
  std::weak_ptr<MwActivityDelegate> delegate PF_GUARDED_BY(mutex);
};

Overlay& overlay() {
  static Overlay instance;
  return instance;
}

}  // namespace

void MwActivity::show(const std::shared_ptr<MwActivityDelegate>& delegate) {
  auto& o = overlay();
  pf::MutexLock lock(o.mutex);
  o.shown = true;
  o.identity = delegate.get();
  o.delegate = delegate;
}

void MwActivity::removeForDelegate(const MwActivityDelegate* delegate) {
  auto& o = overlay();
  pf::MutexLock lock(o.mutex);
  if (!o.shown || o.identity != delegate) return;
  o.shown = false;
  o.identity = nullptr;
  o.delegate.reset();
}

bool MwActivity::isShown() {
  auto& o = overlay();
  pf::MutexLock lock(o.mutex);
  return o.shown;
}

bool MwActivity::isDelegate(const MwActivityDelegate* delegate) {
  auto& o = overlay();
  pf::MutexLock lock(o.mutex);
  return o.shown && o.identity == delegate;
}

void MwActivity::dismissByUser() {
  std::shared_ptr<MwActivityDelegate> delegate;
  {
    auto& o = overlay();
    pf::MutexLock lock(o.mutex);
    if (!o.shown) return;
    delegate = o.delegate.lock();
    o.shown = false;
    o.identity = nullptr;
    o.delegate.reset();
  }
  if (delegate) delegate->activityRemoveFromSuperview();
}

void MwActivity::resetForTesting() {
  auto& o = overlay();
  pf::MutexLock lock(o.mutex);
  o.shown = false;
  o.identity = nullptr;
  o.delegate.reset();
}

}  // namespace container
