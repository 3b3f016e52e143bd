#include "container/MwActivity.h"

namespace container {

namespace {

struct Overlay {
  std::mutex mutex;
  bool shown = false;
  const MwActivityDelegate* identity = nullptr;
  std::weak_ptr<MwActivityDelegate> delegate;
};

Overlay& overlay() {
  static Overlay instance;
  return instance;
}

}  // namespace

void MwActivity::show(const std::shared_ptr<MwActivityDelegate>& delegate) {
  auto& o = overlay();
  std::lock_guard lock(o.mutex);
  o.shown = true;
  o.identity = delegate.get();
  o.delegate = delegate;
}

void MwActivity::removeForDelegate(const MwActivityDelegate* delegate) {
  auto& o = overlay();
  std::lock_guard lock(o.mutex);
  if (!o.shown || o.identity != delegate) return;
  o.shown = false;
  o.identity = nullptr;
  o.delegate.reset();
}

bool MwActivity::isShown() {
  auto& o = overlay();
  std::lock_guard lock(o.mutex);
  return o.shown;
}

bool MwActivity::isDelegate(const MwActivityDelegate* delegate) {
  auto& o = overlay();
  std::lock_guard lock(o.mutex);
  return o.shown && o.identity == delegate;
}

void MwActivity::dismissByUser() {
  std::shared_ptr<MwActivityDelegate> delegate;
  {
    auto& o = overlay();
    std::lock_guard lock(o.mutex);
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
  std::lock_guard lock(o.mutex);
  o.shown = false;
  o.identity = nullptr;
  o.delegate.reset();
}

}  // namespace container
