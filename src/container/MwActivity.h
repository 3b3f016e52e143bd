#pragma once
// The busy overlay a preventable task shows while it runs, as a headless record: at most one is
// shown; its delegate hears when the user removes it.

#include <memory>
#include <mutex>

namespace container {

class MwActivityDelegate {
 public:
  virtual ~MwActivityDelegate() = default;
  // The user removed the overlay.
  virtual void activityRemoveFromSuperview() {}
};

class MwActivity {
 public:
  // Shows the overlay with the given delegate (replacing the delegate of one already shown).
  static void show(const std::shared_ptr<MwActivityDelegate>& delegate);
  // Removes the overlay when the given object is its delegate; its delegate hears nothing.
  static void removeForDelegate(const MwActivityDelegate* delegate);
  static bool isShown();
  static bool isDelegate(const MwActivityDelegate* delegate);
  // The user removes the overlay: it goes, and its delegate hears activityRemoveFromSuperview.
  static void dismissByUser();
  // Tests: no overlay.
  static void resetForTesting();
};

}  // namespace container
